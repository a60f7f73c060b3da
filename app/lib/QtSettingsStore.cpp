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

bool QtSettingsStore::WriteInt(const std::string& name, int value)
{
    m_settings.setValue(Key(name), value);
    return m_settings.isWritable();
}

bool QtSettingsStore::WriteString(const std::string& name, const std::string& value)
{
    m_settings.setValue(Key(name), QString::fromStdString(value));
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
