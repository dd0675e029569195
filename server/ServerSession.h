// One login to the BBS's server for as long as a front end runs: connect,
// make the context, log in; at the end log out and delete the context. No
// widgets and no texts: the main window and the command line each word a
// failed stage their own way.
#pragma once

#include <cstdint>

// The step of Open that failed.
enum class SessionStage { None, Connect, Context, Login };

class ServerSession
{
public:
    ServerSession() = default;
    // A session still open ends here, its failures unreported.
    ~ServerSession();
    ServerSession(const ServerSession&) = delete;
    ServerSession& operator=(const ServerSession&) = delete;

    // Connects (`mainWindow`: the window's handle, or none), makes the
    // context and logs in. False when a stage failed: FailedStage tells
    // which and FailedCode the server's error code (WcGetLastError read
    // right after it).
    bool Open(void* mainWindow = nullptr);
    SessionStage FailedStage() const { return m_failedStage; }
    uint32_t FailedCode() const { return m_failedCode; }

    bool ContextCreated() const { return m_contextCreated; }
    bool LoggedIn() const { return m_loggedIn; }

    // What failed while ending.
    struct EndFaults {
        bool logout = false;
        bool context = false;
    };
    // Logs out (when logged in), then deletes the context (when made). Once
    // ended, a second call does nothing.
    EndFaults End();

private:
    bool Fail(SessionStage stage);

    bool m_contextCreated = false;
    bool m_loggedIn = false;
    SessionStage m_failedStage = SessionStage::None;
    uint32_t m_failedCode = 0;
};
