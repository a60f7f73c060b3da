#include "ui/PaneLocalCopy.h"

#include "listing/PathRules.h"
#include "ui/DisplayText.h"

#include <QMetaObject>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kPartSuffix[] = ".tvpart";
constexpr std::size_t kChunk = std::size_t(1) << 20;
constexpr auto kProgressInterval = std::chrono::milliseconds(100);

struct FileCloser {
    int fd = -1;
    ~FileCloser()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

std::string Errno(int error)
{
    return std::strerror(error);
}

bool Exists(const std::string& path, struct stat* info)
{
    return ::lstat(path.c_str(), info) == 0;
}

// Whether `target` is `source` itself or lies beneath it (a folder copied into itself).
bool IsWithin(const std::string& target, const std::string& source)
{
    std::error_code error;
    const std::filesystem::path from = std::filesystem::weakly_canonical(source, error);
    if (error)
        return false;
    const std::filesystem::path to = std::filesystem::weakly_canonical(target, error);
    if (error)
        return false;
    const std::string a = from.native();
    const std::string b = to.native();
    return b == a || (b.size() > a.size() && b.compare(0, a.size(), a) == 0 && (a == "/" || b[a.size()] == '/'));
}

} // namespace

// The copy itself, on the worker thread: sizes first (for the progress), then entry by
// entry, depth first.
class PaneLocalCopy::Run {
public:
    explicit Run(PaneLocalCopy& job) : m_job(job) {}

    void measure(const std::string& path)
    {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0)
            return;
        if (S_ISREG(info.st_mode)) {
            m_total += std::uint64_t(info.st_size);
            return;
        }
        if (!S_ISDIR(info.st_mode))
            return;
        std::error_code error;
        for (const auto& child : std::filesystem::directory_iterator(path, error)) {
            if (m_job.m_cancelled)
                return;
            measure(child.path().native());
        }
    }

    void copy(const std::string& source, const std::string& target)
    {
        if (m_job.m_cancelled)
            return;
        struct stat info {};
        if (::lstat(source.c_str(), &info) != 0) {
            fail(source, Errno(errno));
            return;
        }
        if (S_ISDIR(info.st_mode))
            copyFolder(source, target, info);
        else if (S_ISREG(info.st_mode) || S_ISLNK(info.st_mode))
            copyFile(source, target, info);
        else
            fail(source, "not a regular file or folder");
    }

    std::string errors;
    std::uint64_t m_total = 0;

private:
    void fail(const std::string& path, const std::string& why) { errors += path + ": " + why + "\n"; }

    void report(const std::string& name, bool now = false)
    {
        const auto time = std::chrono::steady_clock::now();
        if (!now && time - m_lastReport < kProgressInterval)
            return;
        m_lastReport = time;
        m_job.post(qint64(m_done), qint64(m_total), name);
    }

    void copyFolder(const std::string& source, const std::string& target, const struct stat& info)
    {
        struct stat existing {};
        const bool exists = Exists(target, &existing);
        if (exists && !S_ISDIR(existing.st_mode)) {
            fail(target, "a file of that name is in the way of the folder");
            return;
        }
        if (m_job.m_move && !exists) {
            if (::rename(source.c_str(), target.c_str()) == 0)
                return;
            if (errno != EXDEV) {
                fail(source, Errno(errno));
                return;
            }
        }
        if (!exists && ::mkdir(target.c_str(), (info.st_mode & 07777) | S_IRWXU) != 0) {
            fail(target, Errno(errno));
            return;
        }
        std::error_code error;
        std::vector<std::string> names;
        for (const auto& child : std::filesystem::directory_iterator(source, error))
            names.push_back(child.path().filename().native());
        if (error)
            fail(source, error.message());
        for (const std::string& name : names) {
            if (m_job.m_cancelled)
                return;
            copy(JoinPath(source, name), JoinPath(target, name));
        }
        // A move leaves the folder behind only when something in it stayed (skipped).
        if (m_job.m_move && !m_job.m_cancelled)
            ::rmdir(source.c_str());
    }

    // False: leave the target alone.
    bool mayReplace(const std::string& source, const std::string& target, const struct stat& info)
    {
        struct stat existing {};
        if (!Exists(target, &existing))
            return true;
        if (S_ISDIR(existing.st_mode)) {
            fail(target, "a folder of that name is in the way of the file");
            return false;
        }
        if (existing.st_dev == info.st_dev && existing.st_ino == info.st_ino) {
            fail(source, "source and target are the same file");
            return false;
        }
        COverwriteQuestion question;
        question.sourceFile = source;
        question.targetFile = target;
        question.canResume = false;
        // Auto replaces an older target only.
        question.autoAction = info.st_mtime > existing.st_mtime ? 2 : 0;
        question.suggestedAction = question.autoAction;
        const COverwriteAnswer answer = m_job.ask(question);
        const int action = answer.action == 3 ? question.autoAction : answer.action;
        return action == 2 || action == 1;
    }

    void copyFile(const std::string& source, const std::string& target, const struct stat& info)
    {
        const std::string name = FileNamePart(target);
        report(name, true);
        if (!mayReplace(source, target, info) || m_job.m_cancelled) {
            skipBytes(info);
            return;
        }
        if (m_job.m_move) {
            // rename() replaces the target in one step; only another file system needs a copy.
            if (::rename(source.c_str(), target.c_str()) == 0) {
                skipBytes(info);
                return;
            }
            if (errno != EXDEV) {
                fail(source, Errno(errno));
                return;
            }
        }
        const std::string part = target + kPartSuffix;
        ::unlink(part.c_str());
        const bool written = S_ISLNK(info.st_mode) ? writeLink(source, part) : writeFile(source, part, info);
        if (!written) {
            ::unlink(part.c_str());
            return;
        }
        if (::rename(part.c_str(), target.c_str()) != 0) {
            fail(target, Errno(errno));
            ::unlink(part.c_str());
            return;
        }
        if (m_job.m_move && ::unlink(source.c_str()) != 0)
            fail(source, "copied, but the original could not be removed: " + Errno(errno));
    }

    void skipBytes(const struct stat& info)
    {
        if (S_ISREG(info.st_mode))
            m_done += std::uint64_t(info.st_size);
    }

    bool writeLink(const std::string& source, const std::string& part)
    {
        std::error_code error;
        const std::filesystem::path pointsTo = std::filesystem::read_symlink(source, error);
        if (!error)
            std::filesystem::create_symlink(pointsTo, part, error);
        if (error)
            fail(source, error.message());
        return !error;
    }

    bool writeFile(const std::string& source, const std::string& part, const struct stat& info)
    {
        FileCloser in{::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW)};
        if (in.fd < 0) {
            fail(source, Errno(errno));
            return false;
        }
        FileCloser out{::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600)};
        if (out.fd < 0) {
            fail(part, Errno(errno));
            return false;
        }
        const std::string name = FileNamePart(source);
        std::unique_ptr<char[]> buffer(new char[kChunk]);
        for (;;) {
            if (m_job.m_cancelled)
                return false;
            const ssize_t got = ::read(in.fd, buffer.get(), kChunk);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                fail(source, Errno(errno));
                return false;
            }
            if (got == 0)
                break;
            for (ssize_t put = 0; put < got;) {
                const ssize_t n = ::write(out.fd, buffer.get() + put, std::size_t(got - put));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0) {
                    fail(part, Errno(errno));
                    return false;
                }
                put += n;
            }
            m_done += std::uint64_t(got);
            report(name);
        }
        const struct timespec times[2] = {info.st_atim, info.st_mtim};
        ::fchmod(out.fd, info.st_mode & 07777);
        ::futimens(out.fd, times);
        // On disk before it takes the final name: a crash leaves the part file, never a
        // short file under the real name.
        if (::fdatasync(out.fd) != 0 || ::close(out.fd) != 0) {
            out.fd = -1;
            fail(part, Errno(errno));
            return false;
        }
        out.fd = -1;
        return true;
    }

    PaneLocalCopy& m_job;
    std::uint64_t m_done = 0;
    std::chrono::steady_clock::time_point m_lastReport{};
};

PaneLocalCopy::PaneLocalCopy(std::vector<Item> items, std::string targetFolder, bool move, QObject* parent)
    : QObject(parent), m_items(std::move(items)), m_targetFolder(std::move(targetFolder)), m_move(move)
{
}

PaneLocalCopy::~PaneLocalCopy()
{
    cancel();
    if (m_thread.joinable())
        m_thread.join();
}

void PaneLocalCopy::start()
{
    m_thread = std::thread([this] { work(); });
}

void PaneLocalCopy::cancel()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cancelled = true;
    m_answered.notify_all();
}

void PaneLocalCopy::answer(const COverwriteAnswer& answer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_asking)
        return;
    m_answer = answer;
    m_answered.notify_all();
}

COverwriteAnswer PaneLocalCopy::ask(const COverwriteQuestion& question)
{
    if (m_applyToAll)
        return *m_applyToAll;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_answer.reset();
        m_asking = true;
    }
    QMetaObject::invokeMethod(this, [this, question] { emit overwriteQuestion(question); }, Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(m_mutex);
    m_answered.wait(lock, [this] { return m_answer.has_value() || m_cancelled; });
    m_asking = false;
    // Stopping answers with the cautious choice.
    const COverwriteAnswer given = m_cancelled ? COverwriteAnswer{} : *m_answer;
    if (given.applyToAll)
        m_applyToAll = given;
    return given;
}

void PaneLocalCopy::post(qint64 done, qint64 total, const std::string& name)
{
    const QString shown = DisplayText(name);
    QMetaObject::invokeMethod(this, [this, done, total, shown] { emit progress(done, total, shown); }, Qt::QueuedConnection);
}

void PaneLocalCopy::work()
{
    Run run(*this);
    for (const Item& item : m_items)
        run.measure(item.source);
    for (const Item& item : m_items) {
        if (m_cancelled)
            break;
        const std::string target = JoinPath(m_targetFolder, item.name);
        std::error_code error;
        if (std::filesystem::is_directory(std::filesystem::symlink_status(item.source, error)) && IsWithin(target, item.source)) {
            run.errors += item.source + ": a folder cannot be copied into itself\n";
            continue;
        }
        run.copy(item.source, target);
    }
    const QString errors = DisplayText(run.errors);
    const bool cancelled = m_cancelled;
    QMetaObject::invokeMethod(this, [this, errors, cancelled] { emit finished(errors, cancelled); }, Qt::QueuedConnection);
}
