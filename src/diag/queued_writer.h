// OS-independent: an output written on a thread of its own, so that no caller waits for a peer
// that is slow to take what it is given.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace relayon {

// Takes texts from any thread and writes them, in the order they were put, on its own writer
// thread, each text whole: a text the writer has begun is finished before the next one, however
// long the output makes it wait. What a caller cannot put is dropped whole. A full queue either
// makes put wait for room (an output that must lose nothing, the client's) or refuses the text
// at once (an output that may lose text, the debug display). A text larger than the capacity is
// taken once the queue is empty, so that memory stays within the capacity and one text (and one
// spare buffer of up to twice the capacity, which hand gives back to its caller).
// A short text put while nothing waits or is being written may be written by the caller itself,
// which spares it the writer thread's wake-up: only on a thread whose write its I/O interrupt
// ends (os::currentThreadWritesInterruptibly), and the rest of a write so ended is written
// first by the writer thread. A caller that did little work for its text may ask to write it
// itself whatever its length (hand's anyLength): handing it over would cost more than the
// write, since the text then crosses to the writer thread's processor cache.
class QueuedWriter {
public:
    // Writes a text with its tag (what the output makes of it, such as a colour) and sets
    // written to the bytes written; false when the output failed, after which everything put is
    // dropped, or when the calling thread's I/O interrupt ended the write.
    using Write = std::function<bool(std::string_view text, std::uint16_t tag, std::size_t& written)>;
    enum class WhenFull { Wait, Refuse };

    // directLimit: the longest text a caller may write itself; 0: none.
    QueuedWriter(Write write, std::size_t capacity, WhenFull whenFull, std::size_t directLimit = 0);
    // Finishes without a time limit, unless finish() was called.
    ~QueuedWriter();
    QueuedWriter(const QueuedWriter&) = delete;
    QueuedWriter& operator=(const QueuedWriter&) = delete;

    // Starts the writer thread; false when no thread could be made (put then refuses).
    bool start();

    // Puts text after the texts before it; false when it is dropped: the writer is not running
    // or has failed, the queue is full (Refuse), or the calling thread's I/O interrupt was set
    // while it waited for room (Wait). Consecutive texts with the same tag are joined, so that
    // the writer writes them in one call.
    bool put(std::string_view text, std::uint16_t tag = 0);
    // Puts text as put does and leaves it empty. Where it can, it takes the bytes instead of
    // copying them and gives text the memory of a text the writer has finished, so that a
    // caller that fills one buffer again and again neither copies nor allocates.
    // With anyLength, the caller writes the text itself where it would write a short one.
    bool hand(std::string& text, std::uint16_t tag = 0, bool anyLength = false);

    // Refuses texts from now on, and waits up to timeoutMs for the writer to write what it was
    // given and end. False when it has not: it is left to itself in a write the output does not
    // take, and this object must then never be destroyed.
    bool finish(int timeoutMs);

private:
    struct Text {
        std::uint16_t tag;
        std::string bytes;
    };
    void run();
    bool waitForRoom(std::unique_lock<std::mutex>& hold, std::size_t size);
    bool writesHere(std::size_t size, bool anyLength) const;
    bool writeHere(std::unique_lock<std::mutex>& hold, std::string_view text, std::uint16_t tag);
    void dropAll();

    const Write write_;
    const std::size_t capacity_;
    const WhenFull whenFull_;
    const std::size_t directLimit_;
    std::mutex lock_;
    std::condition_variable changed_;  // a text was put or taken, or the writer ended
    std::deque<Text> queue_;
    std::string spare_;        // the memory of a written text, for hand to give back
    std::size_t queued_ = 0;   // bytes in queue_
    bool accepting_ = false;   // between start and finish, while the output works
    bool ended_ = false;       // the writer thread has returned
    bool writing_ = false;     // a write is under way, on the writer thread or a caller's
    std::thread thread_;
};

}  // namespace relayon
