#include "platform/file_io.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace tv;

namespace {

std::atomic<int> g_signals{0};
void OnSignal(int) {
    g_signals.fetch_add(1);
}

} // namespace

// A small pipe hands the bytes over a page at a time, and a handler installed
// without SA_RESTART makes a blocked read or write return early: a partial
// count once some bytes moved, EINTR before any did. Both ends must still
// carry every byte, in order.
TEST(FileIo, WholeTransfersThroughAPipeInterruptedBySignals) {
    struct sigaction sa {};
    struct sigaction old {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    ASSERT_EQ(sigaction(SIGUSR1, &sa, &old), 0);

    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    fcntl(fds[1], F_SETPIPE_SZ, 4096);
    std::vector<unsigned char> sent(1 << 20);
    for (size_t i = 0; i < sent.size(); ++i) {
        sent[i] = static_cast<unsigned char>(i * 131 + (i >> 12));
    }
    std::vector<unsigned char> got(sent.size() + 16);

    std::atomic<int> finished{0};
    ssize_t wrote = 0;
    ssize_t read = 0;
    size_t readDone = 0;
    std::thread writer([&] {
        wrote = WriteFull(fds[1], sent.data(), sent.size());
        ::close(fds[1]);
        finished.fetch_add(1);
    });
    std::thread reader([&] {
        read = ReadFull(fds[0], got.data(), got.size(), &readDone);
        finished.fetch_add(1);
    });
    while (finished.load() < 2) {
        pthread_kill(writer.native_handle(), SIGUSR1);
        pthread_kill(reader.native_handle(), SIGUSR1);
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    writer.join();
    reader.join();
    ::close(fds[0]);
    sigaction(SIGUSR1, &old, nullptr);

    EXPECT_GT(g_signals.load(), 0);
    EXPECT_EQ(wrote, static_cast<ssize_t>(sent.size()));
    // The reader asked for more than was sent: the end of the pipe stops it
    // with what there was, and that is no error.
    ASSERT_EQ(read, static_cast<ssize_t>(sent.size()));
    EXPECT_EQ(readDone, sent.size());
    EXPECT_EQ(std::memcmp(got.data(), sent.data(), sent.size()), 0);
}
