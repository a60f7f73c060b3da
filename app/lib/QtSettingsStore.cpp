#include "app/lib/QtSettingsStore.h"

QtSettingsStore::QtSettingsStore()
    : m_settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Vintrelle"),
                 QStringLiteral("Tollvane"))
{
}

QString QtSettingsStore::Key(const std::string& name)
{
    return QStringLiteral("Settings/") + QString::fromStdString(name);
}

std::optional<int> QtSettingsStore::ReadInt(const std::string& name)
{
    const QVariant value = m_settings.value(Key(name));
    if (!value.isValid())
        return std::nullopt;
    bool ok = false;
    const int number = value.toInt(&ok);
    if (!ok)
        return std::nullopt; // a value that is no number takes the default
    return number;
}

std::optional<std::string> QtSettingsStore::ReadString(const std::string& name)
{
    const QVariant value = m_settings.value(Key(name));
    if (!value.isValid())
        return std::nullopt;
    return value.toString().toStdString();
}

// A value equal to the stored one is not set again, so a save that changes nothing
// leaves the file alone (no rewrite, no wait for the disk).
bool QtSettingsStore::WriteInt(const std::string& name, int value)
{
    const QString key = Key(name);
    if (!m_settings.contains(key) || m_settings.value(key).toString() != QString::number(value))
        m_settings.setValue(key, value);
    return m_settings.isWritable();
}

bool QtSettingsStore::WriteString(const std::string& name, const std::string& value)
{
    const QString key = Key(name);
    const QString text = QString::fromStdString(value);
    if (!m_settings.contains(key) || m_settings.value(key).toString() != text)
        m_settings.setValue(key, text);
    return m_settings.isWritable();
}

bool QtSettingsStore::Flush()
{
    m_settings.sync();
    return m_settings.status() == QSettings::NoError;
}

std::string QtSettingsStore::ProfilePath() const
{
    return m_settings.fileName().toStdString();
}
