// The fake backend: implements the platform layer over the fake::State of
// the running test.

#include "FakePlatform.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "afxdisp.h"
#include "afxsock.h"
#include "logon_task.h"

namespace fake {

namespace {
State g_state;
DWORD g_lastError = 0;
}  // namespace

State& Get() { return g_state; }

void Reset()
{
    g_state = State();
    g_lastError = 0;
    AfxSetUnattended(FALSE);
}

std::string State::LastText(int id) const
{
    for (auto it = dlgItemTexts.rbegin(); it != dlgItemTexts.rend(); ++it) {
        if (it->first == id)
            return it->second;
    }
    return "";
}

std::vector<std::string> State::Texts(int id) const
{
    std::vector<std::string> texts;
    for (const auto& entry : dlgItemTexts) {
        if (entry.first == id)
            texts.push_back(entry.second);
    }
    return texts;
}

std::string Response(const std::vector<std::string>& headerLines, const std::string& body)
{
    std::string text = "HTTP/1.1 200 OK\r\n";
    for (const std::string& line : headerLines)
        text += line + "\r\n";
    return text + "\r\n" + body;
}

Connection Serve(const std::vector<std::string>& chunks)
{
    Connection c;
    for (const std::string& data : chunks)
        c.chunks.push_back(Chunk{data, 0});
    return c;
}

}  // namespace fake

using fake::g_state;

// --- Kernel ---------------------------------------------------------------

void Sleep(DWORD milliseconds)
{
    g_state.sleeps.push_back(milliseconds);
    g_state.tickMs += milliseconds;
}

ULONGLONG AfxGetTickMilliseconds() { return g_state.tickMs; }

void AfxWaitUntilTick(ULONGLONG tickMs)
{
    if (g_state.tickMs < tickMs)
        g_state.tickMs = tickMs;
}

BOOL SetSystemTime(const SYSTEMTIME* utc)
{
    g_state.clockWrites.push_back(*utc);
    if (!g_state.clockResult)
        fake::g_lastError = g_state.clockError;
    return g_state.clockResult;
}

DWORD GetLastError() { return fake::g_lastError; }
void SetLastError(DWORD code) { fake::g_lastError = code; }

int GetSystemMetrics(int index) { return index == SM_CXSCREEN ? 1024 : 32; }

HINSTANCE ShellExecuteA(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, int)
{
    return reinterpret_cast<HINSTANCE>(static_cast<std::intptr_t>(42));
}

// --- Sockets --------------------------------------------------------------

namespace {
// The script of each open socket, by handle.
std::map<std::intptr_t, fake::Connection> g_sockets;
std::map<std::intptr_t, std::size_t> g_nextChunk;
// The sockets connected to the simulated server.
std::set<std::intptr_t> g_simulated;
std::intptr_t g_nextHandle = 100;
}  // namespace

ProxyChoice AfxGetHttpProxy(const char* /*url*/, const char* /*host*/, HttpProxy* proxy,
                            std::string* problem)
{
    *proxy = g_state.proxy;
    *problem = g_state.proxyProblem;
    return g_state.proxyChoice;
}

BOOL AfxSocketInit()
{
    return g_state.socketInitFails ? FALSE : TRUE;
}

CAsyncSocket::~CAsyncSocket() { Close(); }

BOOL CAsyncSocket::Create(UINT, int, long, LPCTSTR)
{
    m_hSocket = g_nextHandle++;
    ++g_state.socketsOpen;
    return TRUE;
}

BOOL CAsyncSocket::Connect(LPCTSTR host, UINT port)
{
    ++g_state.connects;
    g_state.connectHosts.push_back(host);
    g_state.connectPorts.push_back(port);
    g_state.connectTimeoutMs = m_connectTimeoutMs;
    g_state.receiveTimeoutMs = m_receiveTimeoutMs;
    g_nextChunk[m_hSocket] = 0;
    m_connectFailure = ConnectFailure::Other;
    if (g_state.connections.empty()) {
        if (!g_state.server)
            return FALSE;
        g_sockets[m_hSocket] = fake::Connection();
        g_simulated.insert(m_hSocket);
        return TRUE;
    }
    fake::Connection c = g_state.connections.front();
    g_state.connections.pop_front();
    if (c.connectFails) {
        m_connectFailure = c.failure;
        return FALSE;
    }
    m_connectFailure = ConnectFailure::None;
    g_sockets[m_hSocket] = c;
    return TRUE;
}

int CAsyncSocket::Send(const void* data, int length, int)
{
    g_state.sent.emplace_back(static_cast<const char*>(data), static_cast<std::size_t>(length));
    if (g_simulated.count(m_hSocket) != 0) {
        const DWORD roundTrip = g_state.serverRoundTripMs;
        const std::int64_t stampUs = static_cast<std::int64_t>(g_state.tickMs) * 1000 + roundTrip * 500;
        g_sockets[m_hSocket].chunks.push_back(
            fake::Chunk{g_state.server(stampUs), 0, 0, g_state.tickMs + roundTrip});
    }
    return length;
}

int CAsyncSocket::Receive(void* buffer, int length, int)
{
    g_state.receiveLengths.push_back(length);
    auto it = g_sockets.find(m_hSocket);
    if (it == g_sockets.end())
        return -1;
    std::size_t& next = g_nextChunk[m_hSocket];
    if (next >= it->second.chunks.size())
        return 0;
    const fake::Chunk& chunk = it->second.chunks[next++];
    g_state.tickMs = std::max(g_state.tickMs + chunk.delayMs, chunk.readyAtMs);
    if (chunk.data.empty())
        return chunk.result;
    // A scripted chunk larger than the request would be a broken test.
    const std::size_t n = chunk.data.size() < static_cast<std::size_t>(length)
                              ? chunk.data.size()
                              : static_cast<std::size_t>(length);
    std::memcpy(buffer, chunk.data.data(), n);
    return static_cast<int>(n);
}

void CAsyncSocket::Close()
{
    if (m_hSocket == -1)
        return;
    g_sockets.erase(m_hSocket);
    g_nextChunk.erase(m_hSocket);
    g_simulated.erase(m_hSocket);
    --g_state.socketsOpen;
    m_hSocket = -1;
}

void CAsyncSocket::SetTimeouts(UINT connectMilliseconds, UINT receiveMilliseconds)
{
    m_connectTimeoutMs = connectMilliseconds;
    m_receiveTimeoutMs = receiveMilliseconds;
}

// The tick when the watch was made.
class CNetworkWatch::Impl {
public:
    ULONGLONG madeMs;
};

CNetworkWatch::CNetworkWatch() : m_pImpl(new Impl{g_state.tickMs}) {}
CNetworkWatch::~CNetworkWatch() { delete m_pImpl; }

BOOL CNetworkWatch::WaitForChange(UINT timeoutMilliseconds)
{
    g_state.networkWaits.push_back(timeoutMilliseconds);
    const ULONGLONG changeMs = m_pImpl->madeMs + g_state.networkChangeAfterMs;
    const ULONGLONG endMs = g_state.tickMs + timeoutMilliseconds;
    if (g_state.networkChangeAfterMs != 0xFFFFFFFF && changeMs <= endMs) {
        g_state.tickMs = changeMs > g_state.tickMs ? changeMs : g_state.tickMs;
        return TRUE;
    }
    g_state.tickMs = endMs;
    return FALSE;
}

LogonTaskState AfxGetLogonTaskState() { return LogonTaskState::Unsupported; }
BOOL AfxInstallLogonTask(std::string* report) { *report = "no logon task here"; return FALSE; }
BOOL AfxUninstallLogonTask(std::string* report) { *report = "no logon task here"; return FALSE; }

// --- Windows and dialogs ----------------------------------------------------

int AfxMessageBox(LPCTSTR text, UINT, UINT)
{
    g_state.messageBoxes.push_back(text);
    return IDOK;
}

int AfxMessageBox(UINT idPrompt, UINT type, UINT idHelp)
{
    CString text;
    text.LoadString(idPrompt);
    return AfxMessageBox(text, type, idHelp);
}

BOOL CString::LoadString(UINT)
{
    m_text.clear();  // no string table
    return FALSE;
}

void CWnd::SetDlgItemText(int id, LPCTSTR text) { g_state.dlgItemTexts.emplace_back(id, text); }
LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) { return WindowProc(message, wParam, lParam); }
BOOL CWnd::PostMessage(UINT, WPARAM, LPARAM) { return TRUE; }
BOOL CWnd::ShowWindow(int) { return TRUE; }
BOOL CWnd::IsIconic() const { return FALSE; }
void CWnd::GetClientRect(RECT* rect) const { *rect = RECT{0, 0, 400, 300}; }
HICON CWnd::SetIcon(HICON icon, BOOL) { return icon; }
CMenu* CWnd::GetSystemMenu(BOOL) { return &m_systemMenu; }
void CWnd::WinHelp(DWORD_PTR, UINT) {}
UINT CWnd::GetDpi() const { return 96; }
void CDialog::FitPicture(UINT, const RECT&) {}
void CDialog::OnDpiChanged(UINT, LPARAM) {}
LRESULT CWnd::Default() { return 0; }

BOOL CMenu::AppendMenu(UINT, UINT_PTR, LPCTSTR) { return TRUE; }
UINT CMenu::CheckMenuItem(UINT, UINT) { return MF_UNCHECKED; }

INT_PTR CDialog::DoModal()
{
    OnInitDialog();
    return IDOK;
}

void CDialog::EndDialog(int) {}

CPaintDC::CPaintDC(CWnd* wnd) : m_pWnd(wnd), m_paint(nullptr) {}
CPaintDC::~CPaintDC() = default;
CPen* CPaintDC::SelectObject(CPen* pen) { return pen; }
void CPaintDC::MoveTo(int, int) {}
void CPaintDC::LineTo(int, int) {}
BOOL CPaintDC::DrawIcon(int, int, HICON) { return TRUE; }

CPen::CPen(int, int, COLORREF) {}
CPen::~CPen() = default;
BOOL CPen::DeleteObject() { return TRUE; }

HICON CWinApp::LoadIcon(UINT) const { return nullptr; }
void AfxEnableControlContainer() {}
void AfxReopenStdoutOnConsole() {}
bool AfxConsoleReadsUtf8() { return g_state.consoleReadsUtf8; }

// --- Automation -------------------------------------------------------------

BOOL AfxOleInit() { return TRUE; }
void AfxOleLockApp() {}
void AfxOleUnlockApp() {}
void CCmdTarget::EnableAutomation() {}
BOOL COleObjectFactory::RegisterAll() { return TRUE; }
BOOL COleObjectFactory::UpdateRegistryAll(BOOL) { return TRUE; }
