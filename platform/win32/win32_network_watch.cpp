// CNetworkWatch on Windows: NotifyAddrChange and NotifyRouteChange (IPv4,
// since Windows 2000) give notice through events; GetAdaptersAddresses
// (IPv4 and IPv6 addresses, since XP) and GetIpForwardTable are what the
// wait compares every second. Wine 8's notifications are stubs that never
// fire, so there the comparison finds the change; Wine 10 has them.

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "afxsock.h"
#include "network_watch.h"
#include "win32_window.h"

namespace {

// How often, in milliseconds, a paint that painting did not clear is tried
// again (as the socket waits do).
constexpr DWORD kPaintRetryMs = 100;

void AppendHex(std::string* text, const void* data, std::size_t size)
{
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    char two[3];
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(two, sizeof two, "%02x", bytes[i]);
        *text += two;
    }
    *text += ' ';
}

// One change notification: an event, set when the system completes it.
struct Notice {
    OVERLAPPED overlapped = {};
    bool pending = false;
};

// How long, in milliseconds, the end of the watch waits for a cancelled
// notification to complete.
constexpr DWORD kCancelWaitMs = 2000;

// Cancels `notice` if it is still pending and frees it once the system is
// done with it. Cancelling only asks: the system completes the request
// later, writing its status into the OVERLAPPED and setting the event, so
// both must outlive that moment. One that does not complete in time is left
// allocated, its event open: a few bytes lost rather than the system
// writing into memory in use by something else.
void EndNotice(Notice* notice)
{
    if (notice->pending && !HasOverlappedIoCompleted(&notice->overlapped) &&
        CancelIPChangeNotify(&notice->overlapped) &&
        WaitForSingleObject(notice->overlapped.hEvent, kCancelWaitMs) != WAIT_OBJECT_0)
        return;
    if (notice->overlapped.hEvent != nullptr)
        CloseHandle(notice->overlapped.hEvent);
    delete notice;
}

}  // namespace

class CNetworkWatch::Impl : public network_watch::Backend {
public:
    Impl()
    {
        Start(m_address, &NotifyAddrChange);
        Start(m_route, &NotifyRouteChange);
        before = Snapshot();
    }

    ~Impl() override
    {
        EndNotice(m_address);
        EndNotice(m_route);
    }

    bool WaitNotified(unsigned timeoutMs) override
    {
        HANDLE events[2];
        DWORD count = 0;
        for (Notice* notice : {m_address, m_route}) {
            if (notice->pending)
                events[count++] = notice->overlapped.hEvent;
        }
        const ULONGLONG startMs = AfxGetTickMilliseconds();
        for (;;) {
            const bool paintPending = win32_window::AnswerSentAndPaint();
            for (DWORD i = 0; i < count; ++i) {
                if (WaitForSingleObject(events[i], 0) == WAIT_OBJECT_0)
                    return true;
            }
            const ULONGLONG spentMs = AfxGetTickMilliseconds() - startMs;
            if (spentMs >= timeoutMs)
                return false;
            DWORD sliceMs = static_cast<DWORD>(timeoutMs - spentMs);
            if (paintPending)
                sliceMs = std::min(sliceMs, kPaintRetryMs);
            const DWORD wake = paintPending ? QS_SENDMESSAGE : QS_SENDMESSAGE | QS_PAINT;
            if (MsgWaitForMultipleObjects(count, count != 0 ? events : nullptr, FALSE, sliceMs, wake) ==
                WAIT_FAILED)
                Sleep(sliceMs);
        }
    }

    std::string Snapshot() override
    {
        std::string text;
        ULONG size = 16384;
        std::vector<unsigned char> buffer;
        ULONG result = ERROR_BUFFER_OVERFLOW;
        const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER |
                            GAA_FLAG_SKIP_FRIENDLY_NAME;
        for (int tries = 0; tries < 3 && result == ERROR_BUFFER_OVERFLOW; ++tries) {
            buffer.resize(size);
            result = GetAdaptersAddresses(AF_UNSPEC, flags, nullptr,
                                          reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
        }
        if (result == NO_ERROR) {
            for (const IP_ADAPTER_ADDRESSES* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
                 a != nullptr; a = a->Next) {
                AppendHex(&text, &a->IfIndex, sizeof a->IfIndex);
                AppendHex(&text, &a->OperStatus, sizeof a->OperStatus);
                for (const IP_ADAPTER_UNICAST_ADDRESS* u = a->FirstUnicastAddress; u != nullptr; u = u->Next)
                    AppendHex(&text, u->Address.lpSockaddr, static_cast<std::size_t>(u->Address.iSockaddrLength));
                text += '\n';
            }
        }
        ULONG routesSize = 0;
        if (GetIpForwardTable(nullptr, &routesSize, FALSE) == ERROR_INSUFFICIENT_BUFFER) {
            std::vector<unsigned char> routes(routesSize);
            auto* table = reinterpret_cast<MIB_IPFORWARDTABLE*>(routes.data());
            if (GetIpForwardTable(table, &routesSize, FALSE) == NO_ERROR) {
                for (DWORD i = 0; i < table->dwNumEntries; ++i) {
                    const MIB_IPFORWARDROW& row = table->table[i];
                    AppendHex(&text, &row.dwForwardDest, sizeof row.dwForwardDest);
                    AppendHex(&text, &row.dwForwardMask, sizeof row.dwForwardMask);
                    AppendHex(&text, &row.dwForwardNextHop, sizeof row.dwForwardNextHop);
                    AppendHex(&text, &row.dwForwardIfIndex, sizeof row.dwForwardIfIndex);
                }
            }
        }
        return text;
    }

    std::string before;

private:
    static void Start(Notice* notice, DWORD(WINAPI* notify)(PHANDLE, LPOVERLAPPED))
    {
        notice->overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        HANDLE unused = nullptr;
        notice->pending = notice->overlapped.hEvent != nullptr &&
                          notify(&unused, &notice->overlapped) == ERROR_IO_PENDING;
    }

    // Allocated apart from the watch: EndNotice may have to leave one behind.
    Notice* m_address = new Notice;
    Notice* m_route = new Notice;
};

CNetworkWatch::CNetworkWatch() : m_pImpl(new Impl) {}

CNetworkWatch::~CNetworkWatch()
{
    delete m_pImpl;
}

BOOL CNetworkWatch::WaitForChange(UINT timeoutMilliseconds)
{
    return network_watch::WaitForChange(*m_pImpl, m_pImpl->before, timeoutMilliseconds) ? TRUE : FALSE;
}
