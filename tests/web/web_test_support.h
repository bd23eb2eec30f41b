// Test helpers of the web services: a real HTTP server on 127.0.0.1 (an
// ephemeral port, its own thread, stopped when the object goes) and a
// feedback service on it, a recording fake of the window that answers
// questions from a script, an in-memory settings store and a temporary folder.
#pragma once

#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "web/settings_store.h"
#include "web/web_config.h"
#include "web/web_ui.h"

namespace tarsa::webtest {

// No test may reach past loopback: a service address that a test does not set
// itself points at a local port where nothing listens.
inline constexpr const char* kNowhere = "http://127.0.0.1:9";
inline const bool kLoopbackOnly = [] {
    setenv("TARSA_VERSION_SERVICE", kNowhere, 1);
    setenv("TARSA_FEEDBACK_SERVICE", kNowhere, 1);
    return true;
}();

// Every part of a multipart/form-data request, as the server's own parser
// reads it.
inline std::vector<httplib::MultipartFormData> ReadMultipart(const httplib::ContentReader& reader) {
    std::vector<httplib::MultipartFormData> parts;
    reader(
        [&](const httplib::MultipartFormData& f) {
            parts.push_back(f);
            return true;
        },
        [&](const char* data, size_t n) {
            parts.back().content.append(data, n);
            return true;
        });
    return parts;
}

class TestServer {
  public:
    TestServer() { port_ = server.bind_to_any_port("127.0.0.1"); }
    ~TestServer() {
        server.stop();
        if (thread_.joinable()) thread_.join();
    }
    // Starts answering; call after the routes are set.
    void Start() {
        thread_ = std::thread([this] { server.listen_after_bind(); });
        // stop() only works once the accept loop runs.
        while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }
    int Port() const { return port_; }

    httplib::Server server;

  private:
    int port_ = 0;
    std::thread thread_;
};

// The feedback service on 127.0.0.1: answers the reachability probe of "/",
// reads every POST to the feedback path with the server's own multipart
// parser and answers `replyText` with `replyStatus` (set them before the
// request). After Hold() it keeps its answer back until Release() or 20 s.
class FeedbackService {
  public:
    FeedbackService() {
        srv_.server.Get("/", [this](const httplib::Request&, httplib::Response& res) {
            std::lock_guard<std::mutex> lock(m_);
            ++probes_;
            res.set_content("<html>feedback service</html>", "text/html");
        });
        srv_.server.Post(kFeedbackPath, [this](const httplib::Request&, httplib::Response& res,
                                               const httplib::ContentReader& reader) {
            const std::vector<httplib::MultipartFormData> parts = ReadMultipart(reader);
            std::unique_lock<std::mutex> lock(m_);
            posted_ = parts;
            ++posts_;
            held_.wait_for(lock, std::chrono::seconds(20), [this] { return !hold_; });
            ++replies_;
            res.status = replyStatus;
            res.set_content(replyText, "text/html");
        });
        srv_.Start();
    }
    ~FeedbackService() { Release(); }

    std::string Base() const { return srv_.Base(); }
    std::vector<httplib::MultipartFormData> Posted() {
        std::lock_guard<std::mutex> lock(m_);
        return posted_;
    }
    // The content of the last POST's part `name`; "<missing>" when none.
    std::string Field(const std::string& name) {
        for (const auto& p : Posted())
            if (p.name == name) return p.content;
        return "<missing>";
    }
    int Probes() { return Count(probes_); }
    int Posts() { return Count(posts_); }
    int Replies() { return Count(replies_); }
    void Hold() {
        std::lock_guard<std::mutex> lock(m_);
        hold_ = true;
    }
    void Release() {
        {
            std::lock_guard<std::mutex> lock(m_);
            hold_ = false;
        }
        held_.notify_all();
    }

    std::string replyText = "<p>Script Completed</p>";
    int replyStatus = 200;

  private:
    int Count(const int& n) {
        std::lock_guard<std::mutex> lock(m_);
        return n;
    }
    std::mutex m_;
    std::condition_variable held_;
    bool hold_ = false;
    int probes_ = 0, posts_ = 0, replies_ = 0;
    std::vector<httplib::MultipartFormData> posted_;
    TestServer srv_;  // last: stopped before the state its handlers use
};

// A listening socket that never accepts: connections complete in the kernel
// and then hear nothing.
class SilentListener {
  public:
    SilentListener() {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(fd_, 8);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~SilentListener() { close(fd_); }
    std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }

  private:
    int fd_ = -1;
    int port_ = 0;
};

// An address on which nothing listens: a port that was just free.
inline std::string ClosedBase() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return "http://127.0.0.1:" + std::to_string(ntohs(a.sin_port));
}

struct Message {
    std::string text;
    std::string caption;
    bool ask;
    int kind;
};

class FakeWindow : public FeedbackWindowUi {
  public:
    bool WebMessage(const std::string& text, const std::string& caption, bool ask,
                    int kind) override {
        messages.push_back({text, caption, ask, kind});
        if (!ask || answers.empty()) return false;
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
    bool OpenUrl(const std::string& url) override {
        opened.push_back(url);
        return browserWorks;
    }
    void PumpMessages() override {
        ++pumps;
        if (onPump) onPump();
    }
    void ShowWindow() override { visible = true; }
    void HideWindow() override { visible = false; }
    void CloseWindow() override {
        visible = false;
        ++closes;
    }
    bool WindowVisible() override { return visible; }
    void SetFocus(WebControl control) override { focus.push_back(control); }
    void SetSendEnabled(bool enabled) override { sendEnabled = enabled; }
    void SetBusyCursor(bool busy) override { busyCursor = busy; }
    void ShowProgress(uint64_t maximum) override {
        progressVisible = true;
        progressMax = maximum;
        ++progressShows;
    }
    void SetProgress(uint64_t position) override { positions.push_back(position); }
    void HideProgress() override { progressVisible = false; }
    std::string ChooseFile(const std::string& title, const std::string& filter,
                           const std::string& folder) override {
        dialogs.push_back(title + "|" + filter + "|" + folder);
        return chosenFile;
    }

    std::vector<Message> messages;
    std::deque<bool> answers;
    std::vector<std::string> opened;
    bool browserWorks = true;
    int pumps = 0;
    std::function<void()> onPump;
    bool visible = false;
    int closes = 0;
    std::vector<WebControl> focus;
    bool sendEnabled = true;
    bool busyCursor = false;
    bool progressVisible = false;
    uint64_t progressMax = 0;
    int progressShows = 0;
    std::vector<uint64_t> positions;
    std::vector<std::string> dialogs;
    std::string chosenFile;
};

class MemoryStore : public SettingsStore {
  public:
    std::string Read(const std::string& key) override {
        auto it = values.find(key);
        return it == values.end() ? std::string() : it->second;
    }
    bool Write(const std::string& key, const std::string& value) override {
        values[key] = value;
        ++writes;
        return true;
    }
    std::map<std::string, std::string> values;
    int writes = 0;
};

class TempDir {
  public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "web_test.XXXXXX").string();
        path_ = mkdtemp(tmpl.data()) ? tmpl : std::string();
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    std::string Path(const std::string& name) const { return path_ + "/" + name; }
    std::string Write(const std::string& name, const std::string& contents) const {
        std::ofstream(Path(name), std::ios::binary) << contents;
        return Path(name);
    }
    const std::string& Root() const { return path_; }

  private:
    std::string path_;
};

inline std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace tarsa::webtest
