#include "cli/multi_port.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <set>

#include "app/paths.h"
#include "cli/json_events.h"
#include "serial/port_enum.h"
#include "serial/serial_port.h"

namespace tarsa::cli {
namespace {

constexpr uint64_t kConfirmMs = 3000;      // a second Ctrl-C within this stops all
constexpr uint64_t kSecondSigintMs = 300;  // the child takes its first Ctrl-C first
constexpr uint64_t kTerminateMs = 6000;    // a stopped child still running gets SIGTERM
constexpr uint64_t kRedrawMs = 100;        // at most ten redraws a second

volatile sig_atomic_t gSigints = 0;
int gWakeFd = -1;

void OnSigint(int) {
    gSigints = gSigints + 1;
    const int saved = errno;
    const char c = 'i';
    if (gWakeFd >= 0) (void)!write(gWakeFd, &c, 1);
    errno = saved;
}

uint64_t NowMs() {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

struct Child {
    std::string port;
    std::string name;
    pid_t pid = -1;
    int fd = -1;
    std::string buffer;
    int percent = 0;
    std::string phase = "Starting...";
    int64_t secondsLeft = -1;
    int lastPrinted = -1;  // plain lines: the last tenth of progress printed
    bool gotResult = false;
    bool exited = false;
    int status = 0;
    PortResult result;
};

// Text on one line: line breaks become blanks.
std::string OneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    }
    return text;
}

class Runner {
  public:
    Runner(const MultiPortJob& job, FILE* out, FILE* err) : job_(job), out_(out), err_(err) {}

    int Run(std::vector<PortResult>* results);

  private:
    bool Spawn(Child& c);
    void Read(Child& c);
    void Line(Child& c, const std::string& line);
    void Finish(Child& c);
    void NoResult(const Child& c);
    void Interrupt();
    void Say(const std::vector<std::string>& lines);
    void Redraw(bool force);
    std::string StatusLine(const Child& c) const;
    size_t Live() const;

    const MultiPortJob& job_;
    FILE* out_;
    FILE* err_;
    std::vector<Child> children_;
    std::set<std::string> said_;  // messages already printed for another port
    bool drawn_ = false;
    bool redrawPending_ = false;
    uint64_t lastRedrawMs_ = 0;
    sig_atomic_t handledSigints_ = 0;
    uint64_t lastSigintMs_ = 0;
    bool stopping_ = false;
    uint64_t stopMs_ = 0;
    bool secondSent_ = false;
    bool termSent_ = false;
};

size_t Runner::Live() const {
    size_t n = 0;
    for (const Child& c : children_) n += c.fd >= 0 ? 1 : 0;
    return n;
}

bool Runner::Spawn(Child& c) {
    const std::string dir = job_.dataDir + "/" + c.name;
    if (!app::MakeFolders(dir)) {
        c.result.text = "Cannot create the folder " + dir + ": " + strerror(errno);
        return false;
    }
    std::vector<std::string> args = {job_.program, "--port", c.port, "--json", "--data-dir", dir};
    args.insert(args.end(), job_.childArgs.begin(), job_.childArgs.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        c.result.text = std::string("Cannot start the update: ") + strerror(errno);
        return false;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        c.result.text = std::string("Cannot start the update: ") + strerror(errno);
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (pid == 0) {
        setpgid(0, 0);
        signal(SIGINT, SIG_DFL);
        const int in = open("/dev/null", O_RDONLY);
        if (in >= 0) dup2(in, STDIN_FILENO);
        dup2(fds[1], STDOUT_FILENO);
        dup2(fds[1], STDERR_FILENO);
        execv(argv[0], argv.data());
        const char* what = "tarsa-update: cannot start the update program\n";
        (void)!write(STDOUT_FILENO, what, strlen(what));
        _exit(127);
    }
    setpgid(pid, pid);  // also here: no race with the child's own call
    close(fds[1]);
    fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    c.pid = pid;
    c.fd = fds[0];
    return true;
}

std::string Runner::StatusLine(const Child& c) const {
    constexpr int kWidth = 20;
    const int filled = c.percent * kWidth / 100;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kWidth - filled), '-');
    std::string tail;
    if (c.fd < 0) {
        tail = c.result.ok ? "done" : "FAILED";
    } else if (c.secondsLeft >= 0) {
        tail = std::to_string(c.secondsLeft / 60) + ":" + (c.secondsLeft % 60 < 10 ? "0" : "") +
               std::to_string(c.secondsLeft % 60) + " left";
    }
    const std::string phase = c.fd < 0 && !c.result.ok ? c.result.text : c.phase;
    char line[256];
    snprintf(line, sizeof line, "%-10.10s [%s] %3d%% %-46.46s %s", c.name.c_str(), bar.c_str(),
             c.percent, OneLine(phase).c_str(), tail.c_str());
    return line;
}

void Runner::Redraw(bool force) {
    if (!job_.tty || job_.json) return;
    const uint64_t now = NowMs();
    if (!force && drawn_ && now - lastRedrawMs_ < kRedrawMs) {
        redrawPending_ = true;
        return;
    }
    // A line longer than the terminal would wrap and break the redraw.
    struct winsize ws {};
    size_t width = 0;
    if (ioctl(fileno(out_), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1) width = ws.ws_col - 1u;
    std::string text;
    if (drawn_) text += "\033[" + std::to_string(children_.size()) + "A";
    for (const Child& c : children_) {
        std::string line = StatusLine(c);
        if (width && line.size() > width) line.resize(width);
        text += "\r" + line + "\033[K\n";
    }
    fputs(text.c_str(), out_);
    fflush(out_);
    drawn_ = true;
    redrawPending_ = false;
    lastRedrawMs_ = now;
}

// Lines for the reader: above the redrawn block on a terminal, plain
// otherwise; in a JSON run they go to standard error.
void Runner::Say(const std::vector<std::string>& lines) {
    FILE* to = job_.json ? err_ : out_;
    if (drawn_ && to == out_) {
        fprintf(out_, "\033[%zuA\r\033[J", children_.size());
        drawn_ = false;
    }
    for (const std::string& l : lines) fprintf(to, "%s\n", l.c_str());
    fflush(to);
    Redraw(true);
}

void Runner::Line(Child& c, const std::string& line) {
    JsonMembers m;
    if (!ParseJsonObject(line, m)) {
        // Text a child printed outside its events (a crash, a system message).
        if (job_.json) {
            JsonObject o;
            o.Add("event", "message").Add("port", c.port).Add("caption", "").Add("text", line);
            o.Add("kind", "output");
            fprintf(out_, "%s\n", o.Text().c_str());
            fflush(out_);
        } else if (!line.empty() && !stopping_) {  // a stopped child says what the table says
            Say({c.name + ": " + line});
        }
        return;
    }
    if (job_.json) {
        fprintf(out_, "%s\n", line.c_str());
        fflush(out_);
    }
    const std::string event = MemberText(m, "event");
    if (event == "progress" || event == "phase") {
        c.percent = static_cast<int>(MemberNumber(m, "percent", c.percent));
        c.phase = MemberText(m, "phase", c.phase);
        if (event == "progress") c.secondsLeft = MemberNumber(m, "seconds_left", -1);
        if (!job_.tty && !job_.json) {
            if (event == "phase") {
                Say({c.name + ": " + OneLine(c.phase)});
            } else if (c.lastPrinted < 0 || c.percent / 10 != c.lastPrinted / 10 ||
                       c.percent == 100) {
                Say({c.name + ": Progress: " + std::to_string(c.percent) + "%"});
            }
            if (event == "progress") c.lastPrinted = c.percent;
        }
        Redraw(false);
    } else if (event == "message" || event == "question") {
        if (job_.json) return;
        const std::string caption = MemberText(m, "caption");
        const std::string text = MemberText(m, "text");
        // The children's own warning about the stop repeats the parent's.
        if (stopping_ && caption == "Don't Quit Now!") return;
        std::string head = c.name + ": " + (event == "question" ? "Question: " : "") + caption;
        if (event == "question") head += " -> " + MemberText(m, "answer");
        if (!said_.insert(event + caption + "\n" + text).second) {
            Say({head + " (as above)"});
            return;
        }
        std::vector<std::string> lines = {head};
        size_t from = 0;
        while (from <= text.size()) {
            const size_t nl = text.find('\n', from);
            lines.push_back(c.name + ":   " + text.substr(from, nl - from));
            if (nl == std::string::npos) break;
            from = nl + 1;
        }
        Say(lines);
    } else if (event == "result") {
        c.gotResult = true;
        PortResult& r = c.result;
        r.code = static_cast<int>(MemberNumber(m, "code", 0));
        r.ok = r.code > 0;
        r.text = MemberText(m, "text");
        r.seconds = MemberNumber(m, "seconds", 0);
        r.versionBefore = MemberText(m, "version_before");
        r.versionAfter = MemberText(m, "version_after");
        r.deviceName = MemberText(m, "device_name");
        r.serial = MemberText(m, "serial");
        if (r.ok) c.percent = 100;
    }
}

void Runner::Read(Child& c) {
    char buf[4096];
    for (;;) {
        const ssize_t n = read(c.fd, buf, sizeof buf);
        if (n > 0) {
            c.buffer.append(buf, static_cast<size_t>(n));
            size_t nl;
            while ((nl = c.buffer.find('\n')) != std::string::npos) {
                std::string line = c.buffer.substr(0, nl);
                c.buffer.erase(0, nl + 1);
                Line(c, line);
            }
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        // End of file: the child is gone (or closed its output).
        if (!c.buffer.empty()) Line(c, c.buffer);
        c.buffer.clear();
        Finish(c);
        return;
    }
}

// Every port ends with a result event, also one that was stopped or could
// not be started.
void Runner::NoResult(const Child& c) {
    if (!job_.json) return;
    JsonObject o;
    o.Add("event", "result").Add("port", c.port).Add("code", c.result.code);
    o.Add("ok", false).Add("text", c.result.text).Add("caption", "").Add("seconds", 0);
    o.Add("version_before", "").Add("version_after", "").Add("device_name", "");
    o.Add("serial", "");
    fprintf(out_, "%s\n", o.Text().c_str());
    fflush(out_);
}

void Runner::Finish(Child& c) {
    close(c.fd);
    c.fd = -1;
    int status = 0;
    while (waitpid(c.pid, &status, 0) < 0 && errno == EINTR) {
    }
    c.exited = true;
    c.status = status;
    const bool clean = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!c.gotResult) {
        c.result.ok = false;
        if (stopping_) {
            c.result.code = -40;
            c.result.text = "Stopped by the user; the settings file is kept for the next run";
        } else if (WIFSIGNALED(status)) {
            c.result.text =
                "Ended without a result (signal " + std::to_string(WTERMSIG(status)) + ")";
        } else {
            c.result.text =
                "Ended without a result (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
        }
    } else if (!clean) {
        c.result.ok = false;
    }
    if (!c.gotResult) NoResult(c);
    if (!job_.tty && !job_.json) {
        Say({c.name + ": " + (c.result.ok ? "Done: " : "FAILED: ") + OneLine(c.result.text)});
    } else {
        Redraw(true);
    }
}

void Runner::Interrupt() {
    const uint64_t now = NowMs();
    const bool confirmed = lastSigintMs_ != 0 && now - lastSigintMs_ <= kConfirmMs;
    lastSigintMs_ = now;
    if (stopping_) return;
    if (!confirmed) {
        const std::string text =
            "The updates on " + std::to_string(Live()) +
            " ports are running and should NOT be interrupted.\nPress Ctrl-C again within 3 "
            "seconds to stop all of them; every settings file is kept for the next run.";
        if (job_.json) {
            JsonObject o;
            o.Add("event", "message").Add("port", "").Add("caption", "Don't Quit Now!");
            o.Add("text", text).Add("kind", "warning");
            fprintf(out_, "%s\n", o.Text().c_str());
            fflush(out_);
        } else {
            Say({"Don't Quit Now!", text});
        }
        return;
    }
    stopping_ = true;
    stopMs_ = now;
    if (!job_.json) Say({"Stopping every port; the settings files are kept."});
    for (const Child& c : children_) {
        if (c.fd >= 0) kill(-c.pid, SIGINT);
    }
}

int Runner::Run(std::vector<PortResult>* results) {
    std::set<std::string> names;
    for (const std::string& p : job_.ports) {
        Child c;
        c.port = p;
        c.name = PortDisplayName(p);
        c.result.port = c.name;
        if (!names.insert(c.name).second) {
            fprintf(err_, "tarsa-update: the port %s is named twice\n", p.c_str());
            return 2;
        }
        children_.push_back(std::move(c));
    }
    if (children_.empty()) {
        fprintf(err_, "tarsa-update: no port to update\n");
        return 2;
    }

    int wake[2];
    if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) return 2;
    gWakeFd = wake[1];
    struct sigaction sa {};
    struct sigaction previous {};
    sa.sa_handler = OnSigint;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &previous);
    struct sigaction ignorePipe {};
    struct sigaction previousPipe {};
    ignorePipe.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignorePipe, &previousPipe);
    handledSigints_ = gSigints;

    for (Child& c : children_) {
        if (!Spawn(c)) NoResult(c);
    }
    Redraw(true);

    std::vector<pollfd> fds;
    std::vector<Child*> owners;
    while (Live() > 0) {
        fds.clear();
        owners.clear();
        fds.push_back({wake[0], POLLIN, 0});
        owners.push_back(nullptr);
        for (Child& c : children_) {
            if (c.fd < 0) continue;
            fds.push_back({c.fd, POLLIN, 0});
            owners.push_back(&c);
        }
        int timeout = -1;
        if (redrawPending_) timeout = static_cast<int>(kRedrawMs);
        if (stopping_) timeout = 100;
        const int n = poll(fds.data(), fds.size(), timeout);
        if (n < 0 && errno != EINTR) break;
        if (fds[0].revents & POLLIN) {
            char drain[64];
            while (read(wake[0], drain, sizeof drain) > 0) {
            }
        }
        while (handledSigints_ != gSigints) {
            handledSigints_ = handledSigints_ + 1;
            Interrupt();
        }
        for (size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) Read(*owners[i]);
        }
        if (stopping_) {
            const uint64_t since = NowMs() - stopMs_;
            // The second Ctrl-C each child needs to stop in the middle of an
            // update, once it has taken the first.
            if (!secondSent_ && since >= kSecondSigintMs) {
                secondSent_ = true;
                for (const Child& c : children_) {
                    if (c.fd >= 0) kill(-c.pid, SIGINT);
                }
            }
            if (!termSent_ && since >= kTerminateMs) {
                termSent_ = true;
                for (const Child& c : children_) {
                    if (c.fd >= 0) kill(-c.pid, SIGTERM);
                }
            }
        }
        if (redrawPending_) Redraw(false);
    }

    sigaction(SIGINT, &previous, nullptr);
    sigaction(SIGPIPE, &previousPipe, nullptr);
    gWakeFd = -1;
    close(wake[0]);
    close(wake[1]);

    bool all = true;
    std::vector<PortResult> collected;
    for (const Child& c : children_) {
        all = all && c.result.ok;
        collected.push_back(c.result);
    }
    if (!job_.json) {
        fputs(ResultTable(collected).c_str(), out_);
        fflush(out_);
    }
    if (results) *results = std::move(collected);
    return all ? 0 : 1;
}

}  // namespace

int RunMultiPort(const MultiPortJob& job, FILE* out, FILE* err, std::vector<PortResult>* results) {
    Runner runner(job, out, err);
    return runner.Run(results);
}

}  // namespace tarsa::cli
