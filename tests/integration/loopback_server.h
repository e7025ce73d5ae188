// A scripted TCP server on a loopback address, in a thread of the test.
// It accepts connections one after another and runs the same script on
// each; what the clients sent is kept for the test to check.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LoopbackServer {
public:
    // One accepted connection, as the script sees it.
    class Peer {
    public:
        Peer(LoopbackServer& server, int fd) : m_server(server), m_fd(fd) {}
        // Reads until the end of the request headers (CR LF CR LF), the
        // client's close, or 5 s without a byte. Returns what arrived.
        std::string ReadRequest();
        // Reads until `count` bytes, the client's close, or 5 s without a
        // byte. Returns what arrived.
        std::string Read(std::size_t count);
        void Send(const std::string& data);
        // Sends `data` in pieces of `size` bytes, `pauseMs` apart, so that
        // the client gets them in separate reads.
        void SendInPieces(const std::string& data, std::size_t size, int pauseMs);
        void Pause(int milliseconds);
        // Answers nothing until the server stops or the client closes.
        void Hang();
        // Whether the client closes its end within `milliseconds`; what it
        // sends until then is kept with its request.
        bool ClientCloses(int milliseconds);
        // Records a result for the test (LoopbackServer::Notes).
        void Note(const std::string& text) { m_server.Note(text); }
        int fd() const { return m_fd; }

    private:
        LoopbackServer& m_server;
        int m_fd;
        std::string m_received;
        friend class LoopbackServer;
    };
    using Script = std::function<void(Peer&)>;

    // Listens on `address` (an IPv4 or IPv6 literal) and `port` (0: any
    // free port); `backlog` is the listen queue. The script runs on every
    // accepted connection; without one, nothing is accepted.
    LoopbackServer(const char* address, std::uint16_t port, Script script, int backlog = 16);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::uint16_t port() const { return m_port; }
    // The bytes each finished connection received, in order of arrival.
    std::vector<std::string> Received();
    // Results the scripts recorded with Note(), in order.
    std::vector<std::string> Notes();
    void Note(const std::string& text);
    // Blocks until `count` connections have finished, or 15 s have passed.
    bool WaitForConnections(std::size_t count);

private:
    void Run();
    bool Stopping();
    bool WaitForStop(int milliseconds);

    int m_listener = -1;
    std::uint16_t m_port = 0;
    Script m_script;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stop = false;
    std::vector<std::string> m_received;
    std::vector<std::string> m_notes;
};

// A loopback port of `family` (AF_INET or AF_INET6) that nothing listens
// on: a connection to it is refused.
std::uint16_t ClosedPort(int family);
