#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/io.h"
#include "platform/pipe.h"
#include "process/input_thread.h"
#include "test_support.h"

using relayon::InputThread;
using relayon::os::Handle;

namespace {

struct Pipe {
    std::shared_ptr<Handle> read = std::make_shared<Handle>();
    Handle write;
    Pipe() { EXPECT_EQ(relayon::os::createPipe(*read, write), 0); }
};

void writeText(Handle& handle, const std::string& text) {
    ASSERT_TRUE(relayon::os::writeAll(handle.get(), text.data(), text.size()));
}

// A reader whose lines are kept, for the short tests.
struct Recorder {
    std::mutex lock;
    std::vector<std::string> lines;
    InputThread reader;
    int stopAfter = -1;  // the callback returns false for this line

    explicit Recorder(std::shared_ptr<Handle> handle) {
        reader.setHandle(std::move(handle));
        reader.context = 7;
        reader.callback = [this](const char* line, int context) {
            std::lock_guard<std::mutex> guard(lock);
            lines.push_back(std::string(line) + (context == 7 ? "" : "<wrong context>"));
            return static_cast<int>(lines.size()) != stopAfter;
        };
    }
    std::vector<std::string> taken() {
        std::lock_guard<std::mutex> guard(lock);
        return lines;
    }
};

}  // namespace

TEST(InputThread, DeliversExactlyTheLinesOfALongStreamWrittenInRandomChunks) {
    // One million lines with CR LF, lone CRs in the middle, empty lines and zero bytes, whose
    // expected texts are made byte by byte the way the callback contract says.
    std::mt19937 random(12345);
    std::string stream;
    std::vector<std::string> expected;
    const char pieces[] = "abcxyz\r\r\0 \t";
    for (int i = 0; i < 1000000; ++i) {
        std::string line;
        int length = static_cast<int>(random() % 9);
        for (int k = 0; k < length; ++k) line += pieces[random() % (sizeof pieces - 1)];
        stream += line;
        stream += (random() % 3 == 0) ? "\r\n" : "\n";
        std::string text;
        for (char c : line) {
            if (c != '\r') text += c;
        }
        expected.push_back(text.substr(0, text.find('\0')));
    }
    stream += "unfinished";  // never delivered

    Pipe pipe;
    std::vector<std::string> received;
    received.reserve(expected.size());
    InputThread reader;
    reader.setHandle(pipe.read);
    reader.callback = [&received](const char* line, int) {
        received.emplace_back(line);
        return true;
    };
    ASSERT_TRUE(reader.start(0));

    std::thread writer([&] {
        std::mt19937 sizes(777);
        std::size_t at = 0;
        while (at < stream.size()) {
            std::size_t size = std::min<std::size_t>(1 + sizes() % 70000, stream.size() - at);
            if (!relayon::os::writeAll(pipe.write.get(), stream.data() + at, size)) break;
            at += size;
        }
        pipe.write.close();  // the end of the input ends the reader
    });
    writer.join();
    ASSERT_TRUE(reader.ended().wait(60000));
    reader.stop();
    EXPECT_FALSE(reader.registered());
    ASSERT_EQ(received.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(received[i], expected[i]) << "line " << i;
    }
}

TEST(InputThread, AFalseCallbackEndsTheReaderAndStartDoesNothingUntilStop) {
    Pipe pipe;
    Recorder recorder(pipe.read);
    recorder.stopAfter = 2;
    ASSERT_TRUE(recorder.reader.start(0));
    writeText(pipe.write, "one\ntwo\nthree\n");
    ASSERT_TRUE(recorder.reader.ended().wait(5000));
    EXPECT_EQ(recorder.taken(), (std::vector<std::string>{"one", "two"}));

    // Ended but registered: start changes nothing and reads nothing.
    EXPECT_TRUE(recorder.reader.registered());
    EXPECT_TRUE(recorder.reader.start(0));
    EXPECT_TRUE(recorder.reader.ended().wait(0));
    writeText(pipe.write, "four\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(recorder.taken().size(), 2u);

    // After stop, start reads again from where the pipe is.
    recorder.reader.stop();
    EXPECT_FALSE(recorder.reader.registered());
    recorder.stopAfter = -1;
    ASSERT_TRUE(recorder.reader.start(0));
    EXPECT_FALSE(recorder.reader.ended().isSet());
    writeText(pipe.write, "five\n");
    pipe.write.close();
    ASSERT_TRUE(recorder.reader.ended().wait(5000));
    EXPECT_EQ(recorder.taken(), (std::vector<std::string>{"one", "two", "three", "four", "five"}));
}

TEST(InputThread, StopEndsAReaderBlockedInAReadPromptly) {
    Pipe pipe;
    Recorder recorder(pipe.read);
    ASSERT_TRUE(recorder.reader.start(0));
    writeText(pipe.write, "partial line without its end");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // now blocked in a read

    relayon::test::StopWatch watch;
    recorder.reader.stop();
    EXPECT_LT(watch.ms(), 500);
    EXPECT_FALSE(recorder.reader.registered());
    EXPECT_TRUE(recorder.taken().empty());

    // Started again on the same handle, it reads on; the unfinished line of the stopped thread
    // was dropped with it.
    ASSERT_TRUE(recorder.reader.start(0));
    writeText(pipe.write, " and its end\n");
    for (int i = 0; i < 50 && recorder.taken().empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(recorder.taken(), (std::vector<std::string>{" and its end"}));
    recorder.reader.stop();
}

TEST(InputThread, StopEndsAReaderBlockedInAWriteToAPeerThatDoesNotRead) {
    Pipe input;
    Pipe unread;
    const std::string block(1 << 20, 'x');  // more than a pipe holds
    InputThread reader;
    reader.setHandle(input.read);
    reader.callback = [&](const char*, int) {
        relayon::os::writeAll(unread.write.get(), block.data(), block.size());
        return true;
    };
    ASSERT_TRUE(reader.start(0));
    writeText(input.write, "go\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // now blocked in the write
    relayon::test::StopWatch watch;
    EXPECT_TRUE(reader.stop());
    EXPECT_LT(watch.ms(), 900);
}

TEST(InputThread, AThreadStuckWhereNoInterruptReachesIsLeftAfterASecond) {
    Pipe pipe;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    InputThread reader;
    reader.setHandle(pipe.read);
    reader.callback = [released](const char*, int) {
        released.wait();
        return true;
    };
    ASSERT_TRUE(reader.start(0));
    writeText(pipe.write, "stuck\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    relayon::test::StopWatch watch;
    EXPECT_FALSE(reader.stop());
    EXPECT_LT(watch.ms(), 3000);
    EXPECT_FALSE(reader.registered());
    release.set_value();  // the thread left to itself ends as soon as it can
    EXPECT_TRUE(reader.ended().wait(5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

TEST(InputThread, AReaderWithoutAHandleOrWithARecurringReadErrorEnds) {
    relayon::test::LineCollector noHandle(nullptr);
    EXPECT_TRUE(noHandle.endsWithin(1000));

    // Reading a handle value that was never opened fails every time, without being an end of
    // input.
    Recorder recorder(nullptr);
    recorder.reader.setBorrowedHandle(0x3FFFFFFC);
    ASSERT_TRUE(recorder.reader.start(0));
    EXPECT_TRUE(recorder.reader.ended().wait(10000));
    recorder.reader.stop();
    EXPECT_TRUE(recorder.taken().empty());
}

TEST(InputThread, AReplacedHandleIsReadFromTheNextRead) {
    Pipe first;
    Pipe second;
    Recorder recorder(first.read);
    ASSERT_TRUE(recorder.reader.start(0));
    writeText(first.write, "from first\n");
    for (int i = 0; i < 250 && recorder.taken().empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    // The reader may already wait on the first pipe: one more line there lets it take the new
    // handle for its next read.
    recorder.reader.setHandle(second.read);
    writeText(second.write, "from second\n");
    writeText(first.write, "last of first\n");
    first.write.close();
    second.write.close();
    ASSERT_TRUE(recorder.reader.ended().wait(5000));
    std::vector<std::string> lines = recorder.taken();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front(), "from first");
    EXPECT_EQ(lines.back(), "from second");
    recorder.reader.stop();
}

TEST(InputThread, AStopFromTheCallbackEndsTheReaderAfterThatLine) {
    Pipe pipe;
    std::vector<std::string> lines;
    InputThread reader;
    reader.setHandle(pipe.read);
    reader.callback = [&](const char* line, int) {
        lines.emplace_back(line);
        if (lines.size() == 1) reader.stop();
        return true;
    };
    ASSERT_TRUE(reader.start(0));
    writeText(pipe.write, "first\nsecond\n");
    ASSERT_TRUE(reader.ended().wait(5000));
    EXPECT_TRUE(reader.registered());
    reader.stop();
    EXPECT_FALSE(reader.registered());
    EXPECT_EQ(lines, (std::vector<std::string>{"first"}));
}

TEST(InputThread, AfterReadFollowsTheLinesOfEachReadBeforeTheNextRead) {
    Pipe pipe;
    Recorder recorder(pipe.read);
    recorder.reader.afterRead = [&recorder] {
        std::lock_guard<std::mutex> guard(recorder.lock);
        recorder.lines.push_back("|");
    };
    auto waitFor = [&recorder](std::size_t count) {
        for (int i = 0; i < 250 && recorder.taken().size() < count; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    };
    ASSERT_TRUE(recorder.reader.start(0));
    writeText(pipe.write, "a\nb\nc");
    waitFor(3);
    writeText(pipe.write, "\r\n");
    waitFor(5);
    pipe.write.close();
    ASSERT_TRUE(recorder.reader.ended().wait(5000));
    recorder.reader.stop();
    EXPECT_EQ(recorder.taken(), (std::vector<std::string>{"a", "b", "|", "c", "|"}));
}
