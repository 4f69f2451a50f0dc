// Where a command's output goes: standard output or the -o file.
#include "cli.hpp"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <string>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vorpix::cli {
namespace {

[[noreturn]] void cannot_write(const std::string &path, int error) {
    throw InputError(path + ": cannot write: " + std::strerror(error));
}

// 0, or the errno of the write that failed.
int write_all(int fd, const std::string &bytes) {
    const char *p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return 0;
}

std::string directory_of(const std::string &path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file that path names once symbolic links are followed; it need not exist.
struct Target {
    std::string path;
    bool exists = false;
    struct stat st {};
};

Target follow_links(const std::string &path) {
    Target t{path};
    for (int hops = 0;; ++hops) {
        if (::lstat(t.path.c_str(), &t.st) != 0) {
            if (errno != ENOENT) cannot_write(path, errno);
            return t;
        }
        if (!S_ISLNK(t.st.st_mode)) {
            t.exists = true;
            return t;
        }
        if (hops == 40) cannot_write(path, ELOOP);
        char link[PATH_MAX];
        const ssize_t n = ::readlink(t.path.c_str(), link, sizeof link);
        if (n < 0) cannot_write(path, errno);
        if (static_cast<size_t>(n) == sizeof link) cannot_write(path, ENAMETOOLONG);
        const std::string to(link, static_cast<size_t>(n));
        t.path = to[0] == '/' ? to : directory_of(t.path) + "/" + to;
    }
}

// The temporary file that exists while an output file is written. A signal
// that ends the process removes it first; the handler touches nothing but
// these two variables.
constexpr int fatal_signals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGXFSZ};
char pending_name[PATH_MAX + 32];
volatile sig_atomic_t pending = 0;

extern "C" void remove_pending_and_die(int sig) {
    if (pending) ::unlink(pending_name);
    pending = 0;
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(sig, &fallback, nullptr);
    ::raise(sig);  // delivered, with the default action, once the handler returns
}

// Blocks the fatal signals while in scope, so that the handler never sees a
// name half made or a file already renamed.
class SignalsHeld {
public:
    SignalsHeld() {
        sigset_t set;
        sigemptyset(&set);
        for (int sig : fatal_signals) sigaddset(&set, sig);
        pthread_sigmask(SIG_BLOCK, &set, &saved_);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
    SignalsHeld(const SignalsHeld &) = delete;
    SignalsHeld &operator=(const SignalsHeld &) = delete;

private:
    sigset_t saved_;
};

// The output file before it replaces its target. Where the file system
// allows, it has no name until it is complete, so that even SIGKILL leaves
// nothing behind; elsewhere it is made by mkstemp.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string &directory) : directory_(directory) {
        for (size_t i = 0; i < std::size(fatal_signals); ++i) {
            ::sigaction(fatal_signals[i], nullptr, &previous_[i]);
            // A signal the caller chose to ignore stays ignored.
            if (previous_[i].sa_handler == SIG_IGN) continue;
            struct sigaction handler {};
            handler.sa_handler = remove_pending_and_die;
            sigemptyset(&handler.sa_mask);
            ::sigaction(fatal_signals[i], &handler, nullptr);
        }
        if (directory.size() + 32 >= sizeof pending_name) {
            error_ = ENAMETOOLONG;
            return;
        }
        // Naming it later goes through /proc/self/fd.
        if (::access("/proc/self/fd", X_OK) == 0) {
            fd_ = ::open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
            if (fd_ >= 0) return;
            // Kernels and file systems without unnamed files answer so.
            if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
                error_ = errno;
                return;
            }
        }
        const std::string pattern = directory + "/.vorpix-XXXXXX";
        SignalsHeld held;
        std::memcpy(pending_name, pattern.c_str(), pattern.size() + 1);
        fd_ = ::mkstemp(pending_name);
        if (fd_ < 0) error_ = errno;
        else pending = 1, named_ = true;
    }
    ~TemporaryFile() {
        if (fd_ >= 0) ::close(fd_);
        {
            SignalsHeld held;
            if (pending) ::unlink(pending_name);
            pending = 0;
        }
        for (size_t i = 0; i < std::size(fatal_signals); ++i) ::sigaction(fatal_signals[i], &previous_[i], nullptr);
    }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    int fd() const { return fd_; }
    int error() const { return error_; }

    // Puts the written file in place of path: 0, or the errno of the step
    // that failed.
    int replace(const std::string &path) {
        if (!named_) {
            if (const int error = give_name()) return error;
        }
        const int closed = ::close(fd_);
        fd_ = -1;
        if (closed != 0) return errno;
        SignalsHeld held;
        if (::rename(pending_name, path.c_str()) != 0) return errno;
        pending = 0;
        return 0;
    }

private:
    // A fresh name in the directory; link fails rather than reuse one.
    int give_name() {
        const std::string fd_path = "/proc/self/fd/" + std::to_string(fd_);
        for (int attempt = 0; attempt < 100; ++attempt) {
            unsigned char random[6];
            if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random))
                return errno ? errno : EIO;
            std::string name = directory_ + "/.vorpix-";
            for (const unsigned char r : random) name += "abcdefghijklmnopqrstuvwxyz0123456789"[r % 36];
            SignalsHeld held;
            std::memcpy(pending_name, name.c_str(), name.size() + 1);
            if (::linkat(AT_FDCWD, fd_path.c_str(), AT_FDCWD, pending_name, AT_SYMLINK_FOLLOW) == 0) {
                pending = 1;
                named_ = true;
                return 0;
            }
            if (errno != EEXIST) return errno;
        }
        return EEXIST;
    }

    std::string directory_;
    int fd_ = -1;
    int error_ = 0;
    bool named_ = false;
    struct sigaction previous_[std::size(fatal_signals)]{};
};

mode_t creation_mode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// Permission bits do not stop root, but a file that nobody may write is not
// meant to be replaced, so it is refused for root too.
void check_writable(const std::string &path, const Target &t) {
    if ((t.st.st_mode & 0222) == 0) throw InputError(path + ": cannot write: the file is read-only");
    if (::faccessat(AT_FDCWD, t.path.c_str(), W_OK, AT_EACCESS) != 0) cannot_write(path, errno);
}

// Replacing a file that the command read would destroy its input; a link
// or a second name of the file is no different.
void refuse_input(const std::string &path) {
    const std::string input = input_name_of(path);
    if (input.empty()) return;
    throw InputError(path + ": cannot write: the file is also " +
                     (input == path ? std::string("an input") : "the input " + input));
}

void fsync_directory(const std::string &path) {
    const int directory = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
        ::fsync(directory);
        ::close(directory);
    }
}

}  // namespace

void check_may_replace(const std::string &path) {
    refuse_input(path);
    const Target target = follow_links(path);
    if (target.exists && S_ISREG(target.st.st_mode)) check_writable(path, target);
}

void write_output_file(const std::string &path, const std::string &bytes) {
    Output out(path);
    out.append(bytes);
    out.commit();
}

// Where an output file's pieces go while it is written: a temporary file
// that replaces it at the end (regular and new files), or the file itself
// (devices and FIFOs, which replacing would destroy).
struct Output::File {
    std::string path;  // as given
    Target target;
    std::unique_ptr<TemporaryFile> temporary;
    int direct = -1;

    explicit File(const std::string &given) : path(given) {
        refuse_input(path);
        // Links under /proc (behind /dev/stdout, /dev/fd/N) name pipes and
        // terminals in words that are not paths; open follows them.
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
            open_direct(path);
            return;
        }
        target = follow_links(path);
        if (target.exists && S_ISDIR(target.st.st_mode)) throw InputError(path + ": cannot write: is a directory");
        if (target.exists && !S_ISREG(target.st.st_mode)) {
            open_direct(target.path);
            return;
        }
        if (target.exists) check_writable(path, target);
        temporary = std::make_unique<TemporaryFile>(directory_of(target.path));
        if (temporary->fd() < 0) cannot_write(path, temporary->error());
        if (target.exists) {
            // Another owner's file keeps its owner when root replaces it; for
            // anyone else this fails and the new file is theirs.
            if (::fchown(temporary->fd(), target.st.st_uid, target.st.st_gid) != 0) errno = 0;
        }
        const mode_t mode = target.exists ? (target.st.st_mode & 07777) : creation_mode();
        if (::fchmod(temporary->fd(), mode) != 0) cannot_write(path, errno);
    }
    ~File() {
        if (direct >= 0) ::close(direct);
    }
    File(const File &) = delete;
    File &operator=(const File &) = delete;

    void open_direct(const std::string &name) {
        direct = ::open(name.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (direct < 0) cannot_write(path, errno);
    }
    void write(const std::string &bytes) {
        if (const int error = write_all(direct >= 0 ? direct : temporary->fd(), bytes)) cannot_write(path, error);
    }
    void commit() {
        if (direct >= 0) {
            const int closed = ::close(direct);
            direct = -1;
            if (closed != 0) cannot_write(path, errno);
            return;
        }
        int error = ::fsync(temporary->fd()) != 0 ? errno : 0;
        if (error == 0) error = temporary->replace(target.path);
        if (error != 0) cannot_write(path, error);
        fsync_directory(directory_of(target.path));
    }
};

void write_stdout(const std::string &bytes) {
    // Straight to the descriptor, in one write where the pipe takes it,
    // after anything printed through stdio before.
    if (std::fflush(stdout) != 0) cannot_write("standard output", errno);
    if (const int error = write_all(STDOUT_FILENO, bytes)) cannot_write("standard output", error);
}

int close_stdout(int status) {
    const bool failed = std::ferror(stdout) != 0;
    errno = 0;
    // EBADF: standard output was closed from the start and nothing was written.
    if ((std::fclose(stdout) != 0 && errno != EBADF) || failed) {
        std::fprintf(stderr, "vorpix: standard output: cannot write: %s\n",
                     errno ? std::strerror(errno) : "write error");
        return status != 0 ? status : 1;
    }
    return status;
}

namespace {
// Pieces of this size reach the file or standard output as they fill.
constexpr size_t output_piece = 1 << 20;
}  // namespace

Output::Output(std::string path) : path_(std::move(path)) {}
Output::~Output() = default;

void Output::append(std::string_view s) {
    text_.append(s);
    // The first piece goes at once, so that a reader at the other end of a
    // pipe sees the first feature as soon as it is made.
    if (!flushed_ || text_.size() >= output_piece) flush();
}

void Output::flush() {
    flushed_ = true;
    if (path_.empty() || path_ == "-") {
        write_stdout(text_);
    } else {
        if (!file_) file_ = std::make_unique<File>(path_);
        file_->write(text_);
    }
    text_.clear();
}

void Output::commit() {
    flush();
    if (file_) file_->commit();
}

}  // namespace vorpix::cli
