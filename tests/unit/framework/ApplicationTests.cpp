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
    TObject* seenSender = nullptr;
    UnicodeString seenMessage, SeenClass;
    Application().SetOnException([&](TObject* sender, Exception& e) {
        seenSender = sender;
        seenMessage = e.Message();
        SeenClass = e.ClassName();
    });
    TComponent sender(nullptr);
    try {
        throw EConvertError(u"bad value");
    } catch (...) {
        Application().HandleException(&sender);
    }
    EXPECT_EQ(seenSender, &sender);
    EXPECT_EQ(seenMessage, u"bad value");
    EXPECT_EQ(SeenClass, u"EConvertError");
}

TEST_F(HandleExceptionTest, AbortIsNotShown) {
    int calls = 0;
    Application().SetOnException([&](TObject*, Exception&) { ++calls; });
    try {
        Abort();
    } catch (...) {
        Application().HandleException(nullptr);
    }
    EXPECT_EQ(calls, 0);

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
    std::vector<UnicodeString> seen;
    Application().SetOnException([&](TObject*, Exception& e) { seen.push_back(e.Message()); });
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
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], u"disk \u00e9t\u00e9");
    EXPECT_EQ(seen[1], u"Unknown exception");
}

TEST_F(HandleExceptionTest, DefaultDisplayWritesTheMessageToStandardError) {
    testing::internal::CaptureStderr();
    try {
        throw Exception(u"Error 12029: A connection \u00e9chou\u00e9");
    } catch (...) {
        Application().HandleException(nullptr);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error 12029: A connection \xC3\xA9"
              "chou\xC3\xA9\n");
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
    int inner = 0;
    Application().SetOnException([&](TObject*, Exception& e) {
        if (e.Message() == u"outer") {
            try {
                throw Exception(u"inner");
            } catch (...) {
                Application().HandleException(nullptr);  // no deadlock
            }
        } else {
            ++inner;
        }
    });
    try {
        throw Exception(u"outer");
    } catch (...) {
        Application().HandleException(nullptr);
    }
    EXPECT_EQ(inner, 1);
}

TEST_F(HandleExceptionTest, CallsFromManyThreadsAreAllDelivered) {
    std::atomic<int> count{0};
    Application().SetOnException([&](TObject*, Exception& e) {
        if (e.Message() == u"worker") ++count;
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 200; ++i) {
                try {
                    throw Exception(u"worker");
                } catch (...) {
                    Application().HandleException(nullptr);
                }
            }
        });
    // Swapping the handler meanwhile must not disturb the workers.
    for (int i = 0; i < 100; ++i) {
        auto current = Application().OnException();
        Application().SetOnException(current);
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(count.load(), 1600);
}
