// The data connection and the listening socket against loopback peers started by the
// test itself: a thread that serves or connects on 127.0.0.x and sends, receives, stalls
// or breaks the connection as each case needs.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ftp/DataSocketLink.h"
#include "ftp/FtpTypes.h"
#include "ftp/IncomingDataSocket.h"
#include "ftp/LstnDataSocket.h"
#include "platform/Event.h"
#include "platform/MessageWait.h"
#include "platform/SocketErrors.h"
#include "platform/WaitableTimer.h"

namespace {

using namespace std::chrono_literals;

// The session as the data connection sees it: a log, a byte counter, the listing text
// and an idle timer that WaitForTransfer waits on, as the real session's does.
class FakeDataLink : public DataSocketLink {
public:
    struct Line {
        std::string text;
        int kind;
    };
    std::vector<Line> log;
    std::uint64_t bytes = 0;
    std::string listing;
    std::string fileName = "file.bin";
    std::string peerAddress = "127.0.0.1";
    // Generous, so a loaded machine never ends a transfer by the timer; the cases about
    // the idle limit set a short one themselves.
    static constexpr int kGenerousSeconds = 20;
    int timeoutSeconds = kGenerousSeconds;
    int timeouts = 0;
    CEvent stopEvent{/*manualReset=*/true};
    CWaitableTimer idleTimer;
    // Runs at the start of every WaitForTransfer, inside the data socket's own call.
    std::function<void()> beforeWait;

    // Back to a fresh session, for the next row of a table.
    void Clear()
    {
        log.clear();
        bytes = 0;
        listing.clear();
        timeouts = 0;
        timeoutSeconds = kGenerousSeconds;
        beforeWait = nullptr;
    }

    void Log(const std::string& text, int kind, bool, bool) override { log.push_back({text, kind}); }
    void ArmIdleTimer(int seconds) override { idleTimer.SetDueInSeconds(seconds == 0 ? timeoutSeconds : seconds); }
    void AddTransferredBytes(std::uint64_t count) override { bytes += count; }
    void AppendListingText(const char* text, std::size_t length) override { listing.append(text, length); }
    std::string CurrentFileName() const override { return fileName; }
    std::string ControlPeerAddress() const override { return peerAddress; }

    int WaitForTransfer(CEvent* event, int seconds) override
    {
        if (beforeWait)
            beforeWait();
        ArmIdleTimer(seconds);
        // A hard limit keeps a broken case from hanging the suite.
        int index = MessageWait({&stopEvent, &idleTimer, event}, 60000);
        if (index == 0)
            return FTP_INTERRUPTED;
        if (index == 1 || index == WAIT_TIMEOUT) {
            ++timeouts;
            Log("Operation timed out", LOG_ERROR, true, true);
            return FTP_TIMEOUT;
        }
        return FTP_OK;
    }

    bool Logged(const std::string& text, int kind) const
    {
        for (const Line& line : log)
            if (line.text == text && line.kind == kind)
                return true;
        return false;
    }
    // The first Error line that contains every part, or empty.
    std::string ErrorContaining(std::initializer_list<std::string> parts) const
    {
        for (const Line& line : log) {
            bool all = line.kind == LOG_ERROR;
            for (const std::string& part : parts)
                all = all && line.text.find(part) != std::string::npos;
            if (all)
                return line.text;
        }
        return {};
    }
    std::string Dump() const
    {
        std::string all;
        for (const Line& line : log)
            all += std::to_string(line.kind) + " " + line.text + "\n";
        return all;
    }
};

// What a loopback peer does on its data connection, built up as PeerPlan().Send(x)...
struct PeerPlan {
    std::string send;                    // sent first, in pieces
    std::size_t piece = 0;               // 0: one write
    int pieceDelayMs = 0;
    bool holdAfterSend = false;          // keep the connection open until stopped
    bool abortiveClose = false;          // end with a reset instead of FIN
    bool receive = false;                // read until the other side closes
    std::size_t receiveLimit = std::numeric_limits<std::size_t>::max();  // then close
    bool holdWithoutReading = false;     // never read (a stalled upload)
    int receiveBuffer = 0;               // SO_RCVBUF, 0: system default
    bool halfClose = false;              // after receiving: FIN, then stall


    PeerPlan& Send(std::string bytes, std::size_t pieceSize = 0, int delayMs = 0)
    {
        send = std::move(bytes);
        piece = pieceSize;
        pieceDelayMs = delayMs;
        return *this;
    }
    PeerPlan& Hold() { holdAfterSend = true; return *this; }
    PeerPlan& Reset() { abortiveClose = true; return *this; }
    PeerPlan& Receive(std::size_t limit = std::numeric_limits<std::size_t>::max())
    {
        receive = true;
        receiveLimit = limit;
        return *this;
    }
    // Ends its side with a FIN after receiving, then reads nothing more.
    PeerPlan& HalfClose()
    {
        halfClose = true;
        return Stall();
    }
    PeerPlan& Stall()
    {
        holdWithoutReading = true;
        receiveBuffer = 4096;
        return *this;
    }
};

// One peer on its own thread, every wait bounded; the destructor stops and joins it.
class LoopbackPeer {
public:
    ~LoopbackPeer()
    {
        Stop();
        if (listenFd_ >= 0)
            ::close(listenFd_);
    }

    // Listens on 127.0.0.1 at a free port and serves one connection with plan.
    unsigned Serve(PeerPlan plan)
    {
        plan_ = std::move(plan);
        listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        SetReceiveBuffer(listenFd_);
        sockaddr_in address = Loopback("127.0.0.1", 0);
        socklen_t length = sizeof address;
        if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listenFd_, 1) != 0 ||
            ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return 0;
        thread_ = std::thread([this] {
            if (WaitFor(listenFd_, POLLIN, 5000)) {
                int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0)
                    Run(fd);
            }
        });
        return ntohs(address.sin_port);
    }

    // Connects from source (a 127.x address) to 127.0.0.1:port and plays plan.
    void Connect(unsigned port, const char* source, PeerPlan plan)
    {
        plan_ = std::move(plan);
        thread_ = std::thread([this, port, source = std::string(source)] {
            int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            SetReceiveBuffer(fd);
            sockaddr_in local = Loopback(source.c_str(), 0);
            sockaddr_in remote = Loopback("127.0.0.1", port);
            if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
                ::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
                ::close(fd);
                connectFailed_ = true;
                return;
            }
            Run(fd);
        });
    }

    void Stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    // Waits until the peer has finished its plan (bounded by the plan's own waits).
    void Join()
    {
        if (thread_.joinable())
            thread_.join();
    }
    std::string Received()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }
    bool Connected() const { return connected_; }
    std::size_t SentBytes() const { return sent_; }
    bool ConnectFailed() const { return connectFailed_; }

private:
    static sockaddr_in Loopback(const char* text, unsigned port)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET, text, &address.sin_addr);
        return address;
    }
    void SetReceiveBuffer(int fd)
    {
        if (plan_.receiveBuffer > 0)
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &plan_.receiveBuffer, sizeof plan_.receiveBuffer);
    }
    // Polls in short slices so that Stop() ends every wait; false on stop or time-out.
    bool WaitFor(int fd, short events, int limitMs)
    {
        for (int waited = 0; waited < limitMs && !stop_; waited += 20) {
            pollfd p{fd, events, 0};
            if (::poll(&p, 1, 20) > 0)
                return true;
        }
        return false;
    }
    void Run(int fd)
    {
        connected_ = true;
        std::size_t offset = 0;
        while (offset < plan_.send.size() && !stop_) {
            std::size_t length = plan_.piece == 0 ? plan_.send.size() - offset
                                                  : std::min(plan_.piece, plan_.send.size() - offset);
            if (!WaitFor(fd, POLLOUT, 5000))
                break;
            ssize_t sent = ::send(fd, plan_.send.data() + offset, length, MSG_NOSIGNAL);
            if (sent <= 0)
                break;
            offset += static_cast<std::size_t>(sent);
            sent_ = offset;
            if (plan_.pieceDelayMs > 0 && offset < plan_.send.size())
                std::this_thread::sleep_for(std::chrono::milliseconds(plan_.pieceDelayMs));
        }
        if (plan_.receive) {
            char buffer[65536];
            std::size_t total = 0;
            while (total < plan_.receiveLimit && WaitFor(fd, POLLIN, 5000)) {
                ssize_t n = ::recv(fd, buffer, std::min(sizeof buffer, plan_.receiveLimit - total), 0);
                if (n <= 0)
                    break;
                total += static_cast<std::size_t>(n);
                std::lock_guard<std::mutex> lock(mutex_);
                received_.append(buffer, static_cast<std::size_t>(n));
            }
        }
        if (plan_.halfClose)
            ::shutdown(fd, SHUT_WR);
        if (plan_.holdWithoutReading) {
            while (!stop_)
                std::this_thread::sleep_for(20ms);
        } else if (plan_.holdAfterSend) {
            // Until stopped or the other side closes.
            char buffer[4096];
            while (WaitFor(fd, POLLIN, 5000)) {
                if (::recv(fd, buffer, sizeof buffer, 0) <= 0)
                    break;
            }
        }
        if (plan_.abortiveClose) {
            linger reset{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        }
        ::close(fd);
    }

    PeerPlan plan_;
    int listenFd_ = -1;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> connected_{false};
    std::atomic<bool> connectFailed_{false};
    std::atomic<std::size_t> sent_{0};
    std::mutex mutex_;
    std::string received_;
};

std::string Bytes(std::size_t size, unsigned seed = 7)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random() & 0xff);
    return bytes;
}

std::string ReadWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int OpenFdCount()
{
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

bool PumpUntil(const std::function<bool()>& done, int limitMs = 10000)
{
    for (int waited = 0; !done(); waited += 10) {
        if (waited >= limitMs)
            return false;
        PumpMessages(10);
    }
    return true;
}

class DataSocketTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        PumpMessages(0);  // this thread's wake-up descriptor exists before the count
        fdsAtStart = OpenFdCount();
        link.Clear();
        std::string pattern = (std::filesystem::temp_directory_path() / "tollvane-data-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        data = std::make_unique<CIncomingDataSocket>(link);
        listener = std::make_unique<CLstnDataSocket>(link, *data);
        peer = std::make_unique<LoopbackPeer>();
    }
    void TearDown() override
    {
        peer.reset();
        listener.reset();
        data.reset();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
        EXPECT_EQ(OpenFdCount(), fdsAtStart) << "a descriptor was left open";
    }

    std::string Path(const std::string& name) const { return folder + "/" + name; }
    void WriteLocal(const std::string& name, const std::string& bytes) const
    {
        std::ofstream(Path(name), std::ios::binary) << bytes;
    }

    // Passive download or listing: the peer serves plan, the data socket connects.
    int ReceivePassive(PeerPlan plan, bool listing, const std::string& localFile = "")
    {
        unsigned port = peer->Serve(std::move(plan));
        EXPECT_NE(port, 0u);
        EXPECT_TRUE(data->CreateDataSocket());
        if (!listing && !data->HasFile()) {
            EXPECT_TRUE(data->OpenFile(localFile.empty() ? Path("download") : localFile, "wb"));
        }
        data->BeginReceive(listing);
        bool connected = data->Connect("127.0.0.1", port);
        EXPECT_TRUE(connected || WSAGetLastError() == WSAEWOULDBLOCK);
        return link.WaitForTransfer(&data->ReceiveDoneEvent(), 0);
    }

    // Passive upload of the local file `name`: waits for the send-done event as the
    // upload operation does.
    int SendPassive(PeerPlan plan, const std::string& name)
    {
        unsigned port = peer->Serve(std::move(plan));
        EXPECT_NE(port, 0u);
        EXPECT_TRUE(data->CreateDataSocket());
        if (!data->HasFile()) {
            EXPECT_TRUE(data->OpenFile(Path(name), "rb"));
        }
        data->BeginSend();
        bool connected = data->Connect("127.0.0.1", port);
        EXPECT_TRUE(connected || WSAGetLastError() == WSAEWOULDBLOCK);
        EXPECT_TRUE(PumpUntil([&] { return data->SendDoneEvent().IsSignalled(); }, 30000)) << link.Dump();
        return data->SendResult();
    }

    int fdsAtStart = 0;
    std::string folder;
    FakeDataLink link;
    std::unique_ptr<CIncomingDataSocket> data;
    std::unique_ptr<CLstnDataSocket> listener;
    std::unique_ptr<LoopbackPeer> peer;
};

// ---- Receiving ----

TEST_F(DataSocketTest, PassiveDownloadWritesTheFileByteForByte)
{
    struct Case {
        const char* name;
        std::size_t size;
        std::size_t piece;
    } cases[] = {
        {"empty file: the server closes at once", 0, 0},
        {"one byte", 1, 0},
        {"exactly one read", kDataBufferSize, 0},
        {"one byte over a read", kDataBufferSize + 1, 0},
        {"many reads with NUL bytes, in odd pieces", 300000, 7777},
        {"more than one notification takes", 3 * kReceiveBytesPerEvent + 5, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        std::string sent = Bytes(c.size);
        EXPECT_EQ(ReceivePassive(PeerPlan().Send(sent, c.piece), false), FTP_OK) << link.Dump();
        EXPECT_EQ(data->TransferError(), 0);
        EXPECT_FALSE(data->HasFile()) << "the file is closed at the end";
        EXPECT_EQ(ReadWhole(Path("download")), sent);
        EXPECT_EQ(link.bytes, c.size);
        EXPECT_TRUE(link.Logged("Creating data socket...", LOG_STATE));
        EXPECT_TRUE(link.Logged("Data connection closed.", LOG_STATE));
        EXPECT_TRUE(link.Logged("Auto close data connection.", LOG_STATE));
        EXPECT_EQ(data->GetSocketHandle(), INVALID_SOCKET);
    }
}

TEST_F(DataSocketTest, ListingArrivingInManyChunksIsAppendedInOrder)
{
    std::string listing;
    for (int i = 0; i < 400; ++i)
        listing += "-rw-r--r-- 1 u g " + std::to_string(i * 37) + " Jan 1 2020 file" + std::to_string(i) + ".txt\r\n";
    link.listing = "left from before";  // the listing operation empties it; the socket appends
    link.listing.clear();
    EXPECT_EQ(ReceivePassive(PeerPlan().Send(listing, 333, 1), true), FTP_OK) << link.Dump();
    EXPECT_EQ(link.listing, listing);
    EXPECT_EQ(link.bytes, listing.size());
    EXPECT_EQ(data->TransferError(), 0);
}

TEST_F(DataSocketTest, ListingTextEndsAtTheFirstNulOfAChunk)
{
    std::string chunk("total 1\r\n\0garbage", 17);
    EXPECT_EQ(ReceivePassive(PeerPlan().Send(chunk), true), FTP_OK) << link.Dump();
    EXPECT_EQ(link.listing, "total 1\r\n");
}

TEST_F(DataSocketTest, DataTrickledSlowerThanNothingStillCompletesBecauseEveryChunkRearmsTheTimer)
{
    // Ten pieces 300 ms apart take longer than the 2 s time-out in total, but no gap
    // between two pieces comes near it.
    link.timeoutSeconds = 2;
    std::string sent = Bytes(5000);
    EXPECT_EQ(ReceivePassive(PeerPlan().Send(sent, 500, 300), false), FTP_OK) << link.Dump();
    EXPECT_EQ(link.timeouts, 0);
    EXPECT_EQ(ReadWhole(Path("download")), sent);
}

TEST_F(DataSocketTest, StalledDownloadEndsByTheIdleTimeout)
{
    link.timeoutSeconds = 1;
    EXPECT_EQ(ReceivePassive(PeerPlan().Send("some").Hold(), false), FTP_TIMEOUT) << link.Dump();
    EXPECT_EQ(link.bytes, 4u);
    // What the download operation does after a time-out.
    data->ForceClose(false);
    EXPECT_TRUE(link.Logged("Force close data connection.", LOG_STATE));
    EXPECT_FALSE(data->HasFile());
    EXPECT_EQ(ReadWhole(Path("download")), "some");
    peer->Stop();
}

TEST_F(DataSocketTest, ForceCloseWhileReceivingEndsTheTransferAndWritesNothingMore)
{
    unsigned port = peer->Serve(PeerPlan().Send("first").Hold());
    ASSERT_TRUE(data->CreateDataSocket());
    ASSERT_TRUE(data->OpenFile(Path("download"), "wb"));
    data->BeginReceive(false);
    data->Connect("127.0.0.1", port);
    ASSERT_TRUE(PumpUntil([&] { return link.bytes == 5; })) << link.Dump();

    data->ForceClose(false);
    EXPECT_TRUE(data->ReceiveDoneEvent().IsSignalled());
    EXPECT_FALSE(data->HasFile());
    EXPECT_EQ(data->GetSocketHandle(), INVALID_SOCKET);
    EXPECT_TRUE(link.Logged("Force close data connection.", LOG_STATE));
    PumpMessages(50);
    EXPECT_EQ(ReadWhole(Path("download")), "first");
}

TEST_F(DataSocketTest, ConnectionEndedEarlyByTheServer)
{
    struct Case {
        const char* name;
        bool abortive;
        bool errorExpected;
    } cases[] = {
        {"clean close after part of the data: only the reply can tell", false, false},
        {"reset: the transfer records the socket error", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        EXPECT_EQ(ReceivePassive(c.abortive ? PeerPlan().Send(Bytes(2000)).Reset() : PeerPlan().Send(Bytes(2000)), false), FTP_OK) << link.Dump();
        EXPECT_EQ(data->TransferError() != 0, c.errorExpected) << data->TransferError();
        if (c.errorExpected) {
            EXPECT_FALSE(link.ErrorContaining({"Connection reset by peer."}).empty()) << link.Dump();
        }
        EXPECT_FALSE(data->HasFile());
        EXPECT_EQ(data->GetSocketHandle(), INVALID_SOCKET);
    }
}

TEST_F(DataSocketTest, ConnectionEndedBeforeThisThreadLooksAtItIsStillTold)
{
    // A loaded machine lets the server connect, send, and end the connection before this
    // thread first looks at the socket: the connection was made, the data arrived, and
    // the way it ended must still decide the transfer.
    struct Case {
        const char* name;
        bool abortive;
        bool errorExpected;
    } cases[] = {
        {"clean close", false, false},
        {"reset", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        const std::string sent = Bytes(2000);
        unsigned port = peer->Serve(c.abortive ? PeerPlan().Send(sent).Reset() : PeerPlan().Send(sent));
        ASSERT_TRUE(data->CreateDataSocket());
        ASSERT_TRUE(data->OpenFile(Path("download"), "wb"));
        data->BeginReceive(false);
        bool connected = data->Connect("127.0.0.1", port);
        ASSERT_TRUE(connected || WSAGetLastError() == WSAEWOULDBLOCK);
        peer->Join();  // the whole plan is played before a single message is pumped
        EXPECT_EQ(link.WaitForTransfer(&data->ReceiveDoneEvent(), 0), FTP_OK) << link.Dump();
        EXPECT_EQ(data->TransferError() != 0, c.errorExpected) << data->TransferError() << "\n" << link.Dump();
        if (c.errorExpected) {
            EXPECT_FALSE(link.ErrorContaining({"Connection reset by peer."}).empty()) << link.Dump();
        } else {
            EXPECT_EQ(ReadWhole(Path("download")), sent);
        }
        EXPECT_FALSE(data->HasFile());
        EXPECT_EQ(data->GetSocketHandle(), INVALID_SOCKET);
    }
}

TEST_F(DataSocketTest, ErrorOfOneTransferDoesNotFailTheNext)
{
    EXPECT_EQ(ReceivePassive(PeerPlan().Send(Bytes(2000)).Reset(), false), FTP_OK) << link.Dump();
    ASSERT_NE(data->TransferError(), 0);

    peer = std::make_unique<LoopbackPeer>();
    std::string bytes = Bytes(3 * kDataBufferSize);
    WriteLocal("upload", bytes);
    EXPECT_EQ(SendPassive(PeerPlan().Receive(), "upload"), 0) << link.Dump();
    EXPECT_EQ(data->TransferError(), 0);
    peer->Join();
    EXPECT_TRUE(peer->Received() == bytes);
}

TEST_F(DataSocketTest, FullDiskFailsTheDownloadWithTheFileAndReasonNamed)
{
    // /dev/full fails every write with "No space left on device"; a small download fails
    // only when the stream's buffer is flushed at the end.
    for (std::size_t size : {std::size_t{100}, std::size_t{65536}}) {
        SCOPED_TRACE(size);
        TearDown();
        SetUp();
        ASSERT_TRUE(data->OpenFile("/dev/full", "wb"));
        ReceivePassive(size > 1000 ? PeerPlan().Send(Bytes(size)).Hold() : PeerPlan().Send(Bytes(size)), false, "/dev/full");
        EXPECT_EQ(data->TransferError(), kLocalFileError) << link.Dump();
        EXPECT_FALSE(link.ErrorContaining({"/dev/full", std::string(std::strerror(ENOSPC))}).empty()) << link.Dump();
        EXPECT_TRUE(data->ReceiveDoneEvent().IsSignalled());
        EXPECT_FALSE(data->HasFile());
        EXPECT_EQ(data->GetSocketHandle(), INVALID_SOCKET);
        peer->Stop();
    }
}

TEST_F(DataSocketTest, ReceivedDataWithoutAFileFailsInsteadOfVanishing)
{
    unsigned port = peer->Serve({.send = "data"});
    ASSERT_TRUE(data->CreateDataSocket());
    data->BeginReceive(false);
    data->Connect("127.0.0.1", port);
    EXPECT_EQ(link.WaitForTransfer(&data->ReceiveDoneEvent(), 0), FTP_OK);
    EXPECT_EQ(data->TransferError(), kLocalFileError) << link.Dump();
}

TEST_F(DataSocketTest, DownloadAppendsBeyondFourGigabytes)
{
    // A sparse file just over 4 GiB: a resumed download appends after it, and the upload
    // of its tail starts at a 64-bit position.
    const std::int64_t big = (std::int64_t{1} << 32) + 100;
    std::string path = Path("big");
    {
        int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, big), 0);
        ::close(fd);
    }
    ASSERT_TRUE(data->OpenFile(path, "ab"));
    EXPECT_EQ(ReceivePassive(PeerPlan().Send("tail"), false), FTP_OK) << link.Dump();
    EXPECT_EQ(static_cast<std::int64_t>(std::filesystem::file_size(path)), big + 4);

    peer = std::make_unique<LoopbackPeer>();
    ASSERT_TRUE(data->OpenFile(path, "rb"));
    ASSERT_TRUE(data->SeekFile(big + 1));
    EXPECT_EQ(SendPassive(PeerPlan().Receive(), "big"), 0) << link.Dump();
    peer->Join();
    EXPECT_EQ(peer->Received(), "ail");
}

// ---- Sending ----

TEST_F(DataSocketTest, UploadIsSentWholeInChunks)
{
    struct Case {
        const char* name;
        std::size_t size;
        int bufferSize;
    } cases[] = {
        {"empty file sends nothing", 0, kDataBufferSize},
        {"exactly one chunk", kDataBufferSize, kDataBufferSize},
        {"several chunks and a short one", 3 * kDataBufferSize + 17, kDataBufferSize},
        {"one megabyte", 1 << 20, kDataBufferSize},
        {"one megabyte in 4 KiB chunks", 1 << 20, 4096},
        {"one megabyte in one chunk", 1 << 20, kMaxDataBufferSize},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        ASSERT_TRUE(data->SetBufferSize(c.bufferSize));
        std::string bytes = Bytes(c.size, 11);
        WriteLocal("upload", bytes);
        EXPECT_EQ(SendPassive(PeerPlan().Receive(), "upload"), 0) << link.Dump();
        peer->Join();
        EXPECT_EQ(peer->Received().size(), bytes.size());
        EXPECT_TRUE(peer->Received() == bytes);
        EXPECT_EQ(link.bytes, c.size);
        EXPECT_TRUE(link.Logged("File file.bin sent successfully.", LOG_STATE)) << link.Dump();
        EXPECT_TRUE(link.Logged("Auto close data connection.", LOG_STATE));
        EXPECT_FALSE(data->HasFile());
        EXPECT_EQ(data->GetSocketHandle(), INVALID_SOCKET);
    }
}

TEST_F(DataSocketTest, BufferSizeOutsideItsRangeIsRefused)
{
    EXPECT_FALSE(data->SetBufferSize(0));
    EXPECT_FALSE(data->SetBufferSize(kMaxDataBufferSize + 1));
    EXPECT_EQ(data->BufferSize(), kDataBufferSize);
}

TEST_F(DataSocketTest, StalledUploadEndsByTheIdleTimeout)
{
    // The peer never reads, so the send buffers fill and no chunk completes.
    WriteLocal("upload", Bytes(8 << 20));
    link.timeoutSeconds = 1;
    EXPECT_EQ(SendPassive(PeerPlan().Stall(), "upload"), FTP_TIMEOUT)
        << link.Dump();
    EXPECT_TRUE(link.Logged("Force close data connection.", LOG_STATE));
    EXPECT_TRUE(link.Logged("Failed to send file file.bin.", LOG_ERROR));
    EXPECT_FALSE(data->HasFile());
    peer->Stop();
}

TEST_F(DataSocketTest, ServerChatterDoesNotKeepAStalledUploadAlive)
{
    // The server reads nothing but trickles bytes back for far longer than the time-out.
    WriteLocal("upload", Bytes(8 << 20));
    std::string chatter(40, 'z');
    link.timeoutSeconds = 1;
    EXPECT_EQ(SendPassive(PeerPlan().Send(chatter, 1, 200).Stall(), "upload"), FTP_TIMEOUT) << link.Dump();
    EXPECT_LT(peer->SentBytes(), chatter.size()) << "the upload outlived the server's chatter";
    peer->Stop();
}

TEST_F(DataSocketTest, ForceCloseWhileSendingEndsTheUploadAtOnce)
{
    // The control connection's "55" reply arrives while a chunk is being sent.
    WriteLocal("upload", Bytes(8 << 20));
    link.beforeWait = [&] {
        if (!data->ChunkSentEvent().IsSignalled() && data->GetSocketHandle() != INVALID_SOCKET)
            data->ForceClose(true);
    };
    EXPECT_EQ(SendPassive(PeerPlan().Stall(), "upload"), 1) << link.Dump();
    EXPECT_EQ(link.timeouts, 0) << "the forced close must not wait for the time-out";
    EXPECT_TRUE(link.Logged("Force close data connection.", LOG_STATE));
    EXPECT_TRUE(link.Logged("Failed to send file file.bin.", LOG_ERROR));
    EXPECT_FALSE(data->HasFile());
    EXPECT_EQ(data->GetSocketHandle(), INVALID_SOCKET);
    peer->Stop();
}

TEST_F(DataSocketTest, ForceCloseBeforeTheUploadStartedClosesItsFile)
{
    // An upload that fails before the connection opens (STOR refused).
    WriteLocal("upload", "x");
    ASSERT_TRUE(data->CreateDataSocket());
    ASSERT_TRUE(data->OpenFile(Path("upload"), "rb"));
    data->BeginSend();
    data->ForceClose(true);
    EXPECT_EQ(data->SendResult(), 1);
    EXPECT_TRUE(data->SendDoneEvent().IsSignalled());
    EXPECT_FALSE(data->HasFile());
}

TEST_F(DataSocketTest, UploadCutShortByThePeerFailsWithoutWaitingForTheTimeout)
{
    struct Case {
        const char* name;
        PeerPlan plan;
    } cases[] = {
        {"reset after part of the file", PeerPlan().Receive(100000).Reset()},
        {"orderly close after part of the file", PeerPlan().Receive(100000).HalfClose()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        WriteLocal("upload", Bytes(8 << 20));
        EXPECT_EQ(SendPassive(c.plan, "upload"), 1) << link.Dump();
        EXPECT_EQ(link.timeouts, 0);
        EXPECT_TRUE(link.Logged("Failed to send file file.bin.", LOG_ERROR));
        EXPECT_FALSE(data->HasFile());
        EXPECT_EQ(data->GetSocketHandle(), INVALID_SOCKET);
        peer->Stop();
    }
}

TEST_F(DataSocketTest, UnreadableLocalFileFailsTheUploadWithTheFileNamed)
{
    // A directory opens for reading but every read fails.
    std::filesystem::create_directory(Path("folder"));
    ASSERT_TRUE(data->OpenFile(Path("folder"), "rb"));
    EXPECT_EQ(SendPassive(PeerPlan().Receive(), "folder"), 1) << link.Dump();
    EXPECT_FALSE(link.ErrorContaining({Path("folder"), std::string(std::strerror(EISDIR))}).empty()) << link.Dump();
    EXPECT_TRUE(link.Logged("Failed to send file file.bin.", LOG_ERROR));
}

TEST_F(DataSocketTest, RefusedPassiveConnectionFailsAnUploadAtOnce)
{
    // A port nobody listens on: reserve one and close it again.
    unsigned port = 0;
    {
        LoopbackPeer probe;
        port = probe.Serve(PeerPlan());
    }
    WriteLocal("upload", "x");
    ASSERT_TRUE(data->CreateDataSocket());
    ASSERT_TRUE(data->OpenFile(Path("upload"), "rb"));
    data->BeginSend();
    data->Connect("127.0.0.1", port);
    ASSERT_TRUE(PumpUntil([&] { return data->SendDoneEvent().IsSignalled(); }));
    EXPECT_EQ(data->SendResult(), 1);
    EXPECT_EQ(data->TransferError(), WSAECONNREFUSED);
    EXPECT_TRUE(link.Logged("Connection refused.", LOG_ERROR)) << link.Dump();
    EXPECT_FALSE(data->HasFile());
}

TEST_F(DataSocketTest, LocalFileThatCannotBeOpenedIsReported)
{
    EXPECT_FALSE(data->OpenFile(Path("missing/file"), "rb"));
    EXPECT_FALSE(data->HasFile());
    EXPECT_FALSE(link.ErrorContaining({Path("missing/file"), std::string(std::strerror(ENOENT))}).empty()) << link.Dump();
}

TEST_F(DataSocketTest, CreateDataSocketForceClosesALeftoverConnection)
{
    ASSERT_TRUE(data->CreateDataSocket());
    ASSERT_TRUE(data->CreateDataSocket());
    EXPECT_TRUE(link.Logged("Force close data connection.", LOG_STATE));
    EXPECT_NE(data->GetSocketHandle(), INVALID_SOCKET);
}

// ---- Active mode ----

TEST_F(DataSocketTest, ActiveDownloadIsAcceptedAndTheNextPortIsFresh)
{
    ASSERT_TRUE(listener->StartListening());
    unsigned firstPort = listener->ListeningPort();
    ASSERT_NE(firstPort, 0u);

    std::string sent = Bytes(10000);
    ASSERT_TRUE(data->OpenFile(Path("download"), "wb"));
    data->BeginReceive(false);
    peer->Connect(firstPort, "127.0.0.1", PeerPlan().Send(sent));
    EXPECT_EQ(link.WaitForTransfer(&data->ReceiveDoneEvent(), 0), FTP_OK) << link.Dump();
    EXPECT_EQ(ReadWhole(Path("download")), sent);

    unsigned secondPort = listener->ListeningPort();
    EXPECT_NE(secondPort, 0u);
    EXPECT_NE(secondPort, firstPort) << "every PORT command announces a fresh port";

    // The second transfer in a row, a listing, goes through the fresh port.
    peer = std::make_unique<LoopbackPeer>();
    data->BeginReceive(true);
    peer->Connect(secondPort, "127.0.0.1", PeerPlan().Send("dir\r\n"));
    EXPECT_EQ(link.WaitForTransfer(&data->ReceiveDoneEvent(), 0), FTP_OK) << link.Dump();
    EXPECT_EQ(link.listing, "dir\r\n");
    EXPECT_NE(listener->ListeningPort(), secondPort);
}

TEST_F(DataSocketTest, ActiveUploadStartsWhenTheServerConnects)
{
    std::string bytes = Bytes(100000, 3);
    WriteLocal("upload", bytes);
    ASSERT_TRUE(listener->StartListening());
    ASSERT_TRUE(data->OpenFile(Path("upload"), "rb"));
    data->BeginSend();
    peer->Connect(listener->ListeningPort(), "127.0.0.1", PeerPlan().Receive());
    ASSERT_TRUE(PumpUntil([&] { return data->SendDoneEvent().IsSignalled(); })) << link.Dump();
    EXPECT_EQ(data->SendResult(), 0) << link.Dump();
    peer->Join();
    EXPECT_TRUE(peer->Received() == bytes);
}

TEST_F(DataSocketTest, ActiveUploadStartsWhenTheServerConnectedBeforeItWasAskedFor)
{
    // Some servers connect as soon as PORT arrives, before STOR and the upload's start.
    std::string bytes = Bytes(50000, 5);
    WriteLocal("upload", bytes);
    ASSERT_TRUE(listener->StartListening());
    peer->Connect(listener->ListeningPort(), "127.0.0.1", PeerPlan().Receive());
    ASSERT_TRUE(PumpUntil([&] { return data->GetSocketHandle() != INVALID_SOCKET; }));
    PumpMessages(20);  // the first report of room to write finds no upload yet

    ASSERT_TRUE(data->OpenFile(Path("upload"), "rb"));
    data->BeginSend();
    ASSERT_TRUE(PumpUntil([&] { return data->SendDoneEvent().IsSignalled(); })) << link.Dump();
    EXPECT_EQ(data->SendResult(), 0) << link.Dump();
    peer->Join();
    EXPECT_TRUE(peer->Received() == bytes);
}

TEST_F(DataSocketTest, ActiveConnectionFromAnotherAddressIsRefusedAndTheWaitGoesOn)
{
    ASSERT_TRUE(listener->StartListening());
    unsigned port = listener->ListeningPort();
    ASSERT_TRUE(data->OpenFile(Path("download"), "wb"));
    data->BeginReceive(false);

    // 127.0.0.2 is this machine too, but not the server of the control connection.
    LoopbackPeer intruder;
    intruder.Connect(port, "127.0.0.2", PeerPlan().Send("intruder").Hold());
    ASSERT_TRUE(PumpUntil([&] { return !link.log.empty(); })) << "the intruder was not even accepted";
    if (intruder.ConnectFailed())
        GTEST_SKIP() << "127.0.0.2 is not usable as a source address here";
    EXPECT_TRUE(link.Logged("Data connection from 127.0.0.2 refused: not the server's address.", LOG_WARNING))
        << link.Dump();
    EXPECT_EQ(data->GetSocketHandle(), INVALID_SOCKET);
    EXPECT_FALSE(data->ReceiveDoneEvent().IsSignalled()) << "the wait for the server goes on";
    EXPECT_EQ(listener->ListeningPort(), port) << "still listening on the announced port";
    intruder.Stop();

    peer->Connect(port, "127.0.0.1", PeerPlan().Send("server data"));
    EXPECT_EQ(link.WaitForTransfer(&data->ReceiveDoneEvent(), 0), FTP_OK) << link.Dump();
    EXPECT_EQ(ReadWhole(Path("download")), "server data");
}

TEST_F(DataSocketTest, SecondActiveConnectionDuringATransferIsRefused)
{
    ASSERT_TRUE(listener->StartListening());
    ASSERT_TRUE(data->OpenFile(Path("download"), "wb"));
    data->BeginReceive(false);
    peer->Connect(listener->ListeningPort(), "127.0.0.1", PeerPlan().Send("a").Hold());
    ASSERT_TRUE(PumpUntil([&] { return link.bytes == 1; })) << link.Dump();

    LoopbackPeer second;
    second.Connect(listener->ListeningPort(), "127.0.0.1", PeerPlan().Send("second").Hold());
    ASSERT_TRUE(PumpUntil([&] {
        return link.Logged("Data connection refused: a data connection is already open.", LOG_WARNING);
    })) << link.Dump();
    EXPECT_EQ(link.bytes, 1u);
    second.Stop();
    peer->Stop();
    EXPECT_EQ(link.WaitForTransfer(&data->ReceiveDoneEvent(), 0), FTP_OK) << link.Dump();
    EXPECT_EQ(ReadWhole(Path("download")), "a");
}

}  // namespace
