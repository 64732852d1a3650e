// The application object's exception display.
#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Framework/Framework.h"

using namespace Framework;

namespace {

// Restores the default display after each test.
class HandleExceptionTest : public ::testing::Test {
protected:
    void TearDown() override { Application().SetOnException(nullptr); }
};

}  // namespace

TEST_F(HandleExceptionTest, HandlerReceivesSenderAndTheExceptionBeingHandled) {
    TObject* SeenSender = nullptr;
    UnicodeString SeenMessage, SeenClass;
    Application().SetOnException([&](TObject* Sender, Exception& E) {
        SeenSender = Sender;
        SeenMessage = E.Message();
        SeenClass = E.ClassName();
    });
    TComponent Sender(nullptr);
    try {
        throw EConvertError(u"bad value");
    } catch (...) {
        Application().HandleException(&Sender);
    }
    EXPECT_EQ(SeenSender, &Sender);
    EXPECT_EQ(SeenMessage, u"bad value");
    EXPECT_EQ(SeenClass, u"EConvertError");
}

TEST_F(HandleExceptionTest, AbortIsNotShown) {
    int Calls = 0;
    Application().SetOnException([&](TObject*, Exception&) { ++Calls; });
    try {
        Abort();
    } catch (...) {
        Application().HandleException(nullptr);
    }
    EXPECT_EQ(Calls, 0);

    Application().SetOnException(nullptr);
    testing::internal::CaptureStderr();
    try {
        Abort();
    } catch (...) {
        Application().HandleException(nullptr);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(HandleExceptionTest, ForeignExceptionsAreWrappedWithTheirText) {
    std::vector<UnicodeString> Seen;
    Application().SetOnException([&](TObject*, Exception& E) { Seen.push_back(E.Message()); });
    try {
        throw std::runtime_error("disk \xC3\xA9t\xC3\xA9");
    } catch (...) {
        Application().HandleException(nullptr);
    }
    try {
        throw 42;
    } catch (...) {
        Application().HandleException(nullptr);
    }
    Application().HandleException(nullptr);  // outside a handler: nothing to show
    ASSERT_EQ(Seen.size(), 2u);
    EXPECT_EQ(Seen[0], u"disk \u00e9t\u00e9");
    EXPECT_EQ(Seen[1], u"Unknown exception");
}

TEST_F(HandleExceptionTest, DefaultDisplayWritesTheMessageToStandardError) {
    testing::internal::CaptureStderr();
    try {
        throw Exception(u"Error 12029: A connection \u00e9chou\u00e9");
    } catch (...) {
        Application().HandleException(nullptr);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error 12029: A connection \xC3\xA9" "chou\xC3\xA9\n");
}

TEST_F(HandleExceptionTest, ARaisingHandlerIsContainedAndShownByDefault) {
    Application().SetOnException([](TObject*, Exception&) { throw Exception(u"handler broke"); });
    testing::internal::CaptureStderr();
    EXPECT_NO_THROW({
        try {
            throw Exception(u"original");
        } catch (...) {
            Application().HandleException(nullptr);
        }
    });
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "handler broke\n");
}

TEST_F(HandleExceptionTest, HandlerMayReenterTheApplication) {
    int Inner = 0;
    Application().SetOnException([&](TObject*, Exception& E) {
        if (E.Message() == u"outer") {
            try {
                throw Exception(u"inner");
            } catch (...) {
                Application().HandleException(nullptr);  // no deadlock
            }
        } else {
            ++Inner;
        }
    });
    try {
        throw Exception(u"outer");
    } catch (...) {
        Application().HandleException(nullptr);
    }
    EXPECT_EQ(Inner, 1);
}

TEST_F(HandleExceptionTest, CallsFromManyThreadsAreAllDelivered) {
    std::atomic<int> Count{0};
    Application().SetOnException([&](TObject*, Exception& E) {
        if (E.Message() == u"worker") ++Count;
    });
    std::vector<std::thread> Threads;
    for (int T = 0; T < 8; ++T)
        Threads.emplace_back([] {
            for (int I = 0; I < 200; ++I) {
                try {
                    throw Exception(u"worker");
                } catch (...) {
                    Application().HandleException(nullptr);
                }
            }
        });
    // Swapping the handler meanwhile must not disturb the workers.
    for (int I = 0; I < 100; ++I) {
        auto Current = Application().OnException();
        Application().SetOnException(Current);
    }
    for (auto& Th : Threads) Th.join();
    EXPECT_EQ(Count.load(), 1600);
}
