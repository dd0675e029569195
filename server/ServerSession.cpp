#include "server/ServerSession.h"

#include "server/wcsrv.h"

ServerSession::~ServerSession()
{
    End();
}

bool ServerSession::Fail(SessionStage stage)
{
    m_failedCode = WcGetLastError();
    m_failedStage = stage;
    return false;
}

bool ServerSession::Open(void* mainWindow)
{
    m_failedStage = SessionStage::None;
    m_failedCode = 0;
    if (!WildcatServerConnect(mainWindow))
        return Fail(SessionStage::Connect);
    m_contextCreated = WildcatServerCreateContext();
    if (!m_contextCreated)
        return Fail(SessionStage::Context);
    m_loggedIn = LoginSystem();
    if (!m_loggedIn)
        return Fail(SessionStage::Login);
    return true;
}

ServerSession::EndFaults ServerSession::End()
{
    EndFaults faults;
    if (!m_contextCreated)
        return faults;
    if (m_loggedIn && !LogoutUser())
        faults.logout = true;
    if (!WildcatServerDeleteContext())
        faults.context = true;
    m_loggedIn = false;
    m_contextCreated = false;
    return faults;
}
