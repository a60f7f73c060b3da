#include "app/lib/FileTypeRegistration.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringList>

namespace {

QString BaseFolder(const char* variable, const QString& underHome)
{
    const QString value = QString::fromLocal8Bit(qgetenv(variable));
    if (value.startsWith(QLatin1Char('/')))
        return value;
    return QDir::homePath() + QLatin1Char('/') + underHome;
}

QString DataHome()
{
    return BaseFolder("XDG_DATA_HOME", QStringLiteral(".local/share"));
}

QString ConfigHome()
{
    return BaseFolder("XDG_CONFIG_HOME", QStringLiteral(".config"));
}

// Writes the file unless it already holds `contents`; *changed tells whether it wrote.
bool WriteWhole(const QString& path, const QByteArray& contents, bool* changed = nullptr)
{
    QFile current(path);
    if (current.open(QIODevice::ReadOnly) && current.readAll() == contents)
        return true;
    current.close();
    if (changed)
        *changed = true;
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(contents);
    return file.commit();
}

QString XmlEscaped(const QString& text)
{
    return text.toHtmlEscaped();
}

// One argument of an Exec line: quoted when it holds a reserved character, with the
// characters that stay special inside quotes escaped; then the backslashes doubled once
// more, because the value itself is a desktop-file string.
QString ExecArgument(const QString& argument)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = argument.isEmpty();
    for (const QChar c : argument)
        needsQuotes = needsQuotes || reserved.contains(c);
    QString quoted = argument;
    if (needsQuotes) {
        quoted.clear();
        for (const QChar c : argument) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
                c == QLatin1Char('\\'))
                quoted += QLatin1Char('\\');
            quoted += c;
        }
        quoted = QLatin1Char('"') + quoted + QLatin1Char('"');
    }
    quoted.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
}

// Sets `key` in the [Default Applications] group of mimeapps.list, keeping every other
// line the user has.
bool SetDefaultApplication(const QString& mimeType, const QString& desktopFile, bool* changed)
{
    const QString path = ConfigHome() + QStringLiteral("/mimeapps.list");
    QStringList lines;
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly))
        lines = QString::fromUtf8(existing.readAll()).split(QLatin1Char('\n'));
    existing.close();
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty())
        lines.removeLast();

    const QString group = QStringLiteral("[Default Applications]");
    const QString entry = mimeType + QLatin1Char('=') + desktopFile;
    int groupAt = -1;
    for (int i = 0; i < lines.size(); ++i)
        if (lines[i].trimmed() == group)
            groupAt = i;
    if (groupAt < 0) {
        lines << group << entry;
    } else {
        int i = groupAt + 1;
        bool replaced = false;
        for (; i < lines.size() && !lines[i].trimmed().startsWith(QLatin1Char('[')); ++i) {
            if (lines[i].section(QLatin1Char('='), 0, 0).trimmed() == mimeType) {
                lines[i] = entry;
                replaced = true;
            }
        }
        if (!replaced)
            lines.insert(groupAt + 1, entry);
    }
    return WriteWhole(path, (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8(), changed);
}

void RefreshDatabase(const QString& tool, const QString& folder)
{
    const QString program = QStandardPaths::findExecutable(tool);
    if (!program.isEmpty())
        QProcess::startDetached(program, {folder});
}

} // namespace

QString FileTypeMimeName(const QString& extension)
{
    return QStringLiteral("application/x-tollvane-") + extension.toLower();
}

bool RegisterFileType(const FileTypeRegistration& r)
{
    const QString mimeType = FileTypeMimeName(r.extension);
    const QString description = r.extension.toUpper() + QStringLiteral(" FILE");
    const QString desktopName = QStringLiteral("tollvane-") + r.extension.toLower() + QStringLiteral(".desktop");

    const QByteArray package =
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
                       "  <mime-type type=\"%1\">\n"
                       "    <comment>%2</comment>\n"
                       "    <icon name=\"%3\"/>\n"
                       "    <glob pattern=\"*.%4\"/>\n"
                       "  </mime-type>\n"
                       "</mime-info>\n")
            .arg(XmlEscaped(mimeType), XmlEscaped(description), XmlEscaped(r.iconName),
                 XmlEscaped(r.extension.toLower()))
            .toUtf8();
    // Written at every start: files that are already right are left alone, and the
    // databases are rebuilt only when something changed.
    bool changed = false;
    const QString mimeFolder = DataHome() + QStringLiteral("/mime");
    if (!WriteWhole(mimeFolder + QStringLiteral("/packages/tollvane-") + r.extension.toLower() +
                        QStringLiteral(".xml"),
                    package, &changed))
        return false;

    const QByteArray desktop = QStringLiteral("[Desktop Entry]\n"
                                              "Type=Application\n"
                                              "Name=Tollvane\n"
                                              "Comment=%1\n"
                                              "Exec=%2 %f\n"
                                              "Icon=%3\n"
                                              "MimeType=%4;\n"
                                              "NoDisplay=true\n"
                                              "Terminal=false\n")
                                   .arg(description, ExecArgument(r.programPath), r.iconName, mimeType)
                                   .toUtf8();
    const QString applications = DataHome() + QStringLiteral("/applications");
    if (!WriteWhole(applications + QLatin1Char('/') + desktopName, desktop, &changed))
        return false;

    if (!SetDefaultApplication(mimeType, desktopName, &changed))
        return false;

    if (r.notify && changed) {
        RefreshDatabase(QStringLiteral("update-mime-database"), mimeFolder);
        RefreshDatabase(QStringLiteral("update-desktop-database"), applications);
    }
    return true;
}
