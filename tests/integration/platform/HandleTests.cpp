// The handle table: closing, status callbacks, children and their kinds,
// and handles used from several threads.
#include "BackendTesting.h"

#include "posix/handles/Handle.h"
#include "posix/session/Session.h"

#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

using namespace BackendTesting;
using Corvane::Backend::Handle;
using Corvane::Backend::HandleOps;
using Corvane::Backend::HandleRef;
using Corvane::Backend::HandleTable;
using Corvane::Backend::Session;

namespace {

// What the status callback saw.
struct Notification {
    HINTERNET handle;
    DWORD_PTR context;
    DWORD status;
    DWORD_PTR data;  // dwResult of HANDLE_CREATED, the handle of HANDLE_CLOSING
    DWORD length;
};

std::mutex RecordedMutex;
std::vector<Notification> Recorded;

void CALLBACK Record(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
    Notification n{handle, context, status, 0, length};
    if (status == INTERNET_STATUS_HANDLE_CREATED)
        n.data = static_cast<INTERNET_ASYNC_RESULT*>(info)->dwResult;
    if (status == INTERNET_STATUS_HANDLE_CLOSING)
        n.data = reinterpret_cast<DWORD_PTR>(*static_cast<HINTERNET*>(info));
    std::lock_guard<std::mutex> lock(RecordedMutex);
    Recorded.push_back(n);
}

void CALLBACK Other(HINTERNET, DWORD_PTR, DWORD, LPVOID, DWORD) {}

std::vector<Notification> TakeRecorded() {
    std::lock_guard<std::mutex> lock(RecordedMutex);
    return std::exchange(Recorded, {});
}

// A kind of handle for these tests only, standing for the connection and
// request kinds to come: it counts how often its close ran.
struct TestChild : Handle {
    static const HandleOps Ops;
    std::atomic<int> closes{0};
    TestChild(HandleRef parent, DWORD_PTR context) : Handle(Ops, std::move(parent), context) {}
};

const HandleOps TestChild::Ops = {
    INTERNET_HANDLE_TYPE_CONNECT_HTTP,
    "test child",
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    [](Handle& h) { ++static_cast<TestChild&>(h).closes; },
    nullptr,
};

std::shared_ptr<TestChild> MakeChild(HINTERNET parentValue, DWORD_PTR context) {
    DWORD error = 0;
    HandleRef parent = HandleTable::Find(parentValue, &error);
    EXPECT_NE(parent, nullptr);
    auto child = std::make_shared<TestChild>(parent, context);
    EXPECT_NE(HandleTable::Register(child, &error), nullptr);
    return child;
}

HINTERNET OpenDirect() {
    return InternetOpenW(u"Corvane", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
}

// A session with a context value, so that it makes status callbacks.
HINTERNET OpenWithContext(DWORD_PTR context = 0x5E55) {
    const HINTERNET session = OpenDirect();
    InternetSetOptionW(session, INTERNET_OPTION_CONTEXT_VALUE, &context, sizeof(context));
    return session;
}

class Handles : public testing::Test {
protected:
    void SetUp() override {
        TakeRecorded();
        FOpenBefore = HandleTable::OpenCount();
    }
    void TearDown() override { EXPECT_EQ(HandleTable::OpenCount(), FOpenBefore) << "a handle leaked"; }
    std::size_t FOpenBefore = 0;
};

TEST_F(Handles, ClosingRefusesWhatIsNotAnOpenHandle) {
    const HINTERNET session = OpenDirect();
    ArmLastError();
    EXPECT_TRUE(Succeeded(InternetCloseHandle(session)));

    const struct {
        const char* what;
        HINTERNET handle;
    } cases[] = {
        {"null", nullptr},
        {"closed", session},
        {"never given out", reinterpret_cast<HINTERNET>(0x7FFF0000)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ArmLastError();
        EXPECT_TRUE(FailedWith(InternetCloseHandle(c.handle), ERROR_INVALID_HANDLE));
        DWORD type = 0, size = sizeof(type);
        ArmLastError();
        EXPECT_TRUE(FailedWith(
            InternetQueryOptionW(c.handle ? c.handle : session, INTERNET_OPTION_HANDLE_TYPE, &type, &size),
            ERROR_INVALID_HANDLE));
    }
}

TEST_F(Handles, ValuesAreNeverGivenOutTwice) {
    std::set<HINTERNET> seen;
    for (int i = 0; i < 500; ++i) {
        const HINTERNET session = OpenDirect();
        ASSERT_NE(session, nullptr);
        EXPECT_TRUE(seen.insert(session).second) << "value reused after a close";
        InternetCloseHandle(session);
    }
}

TEST_F(Handles, SetStatusCallbackReturnsThePreviousOne) {
    const HINTERNET session = OpenDirect();
    ArmLastError();
    EXPECT_EQ(InternetSetStatusCallback(session, Record), nullptr);
    EXPECT_EQ(::GetLastError(), kSentinel);
    EXPECT_EQ(InternetSetStatusCallback(session, Other), &Record);
    EXPECT_EQ(InternetSetStatusCallback(session, nullptr), &Other);
    EXPECT_EQ(InternetSetStatusCallback(session, nullptr), nullptr);
    InternetCloseHandle(session);

    for (HINTERNET bad : {static_cast<HINTERNET>(nullptr), session}) {
        ArmLastError();
        EXPECT_EQ(InternetSetStatusCallback(bad, Record), INTERNET_INVALID_STATUS_CALLBACK);
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    EXPECT_TRUE(TakeRecorded().empty());
}

TEST_F(Handles, ClosingReportsHandleClosingWithTheContextValue) {
    for (DWORD_PTR context : {DWORD_PTR{0}, DWORD_PTR{0xC0FFEE}}) {
        SCOPED_TRACE(context);
        const HINTERNET session = OpenDirect();
        InternetSetStatusCallback(session, Record);
        if (context) InternetSetOptionW(session, INTERNET_OPTION_CONTEXT_VALUE, &context, sizeof(context));
        ASSERT_TRUE(InternetCloseHandle(session));

        const auto seen = TakeRecorded();
        if (context == 0) {
            // A handle without a context value makes no callbacks.
            EXPECT_TRUE(seen.empty());
            continue;
        }
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].status, static_cast<DWORD>(INTERNET_STATUS_HANDLE_CLOSING));
        EXPECT_EQ(seen[0].handle, session);
        EXPECT_EQ(seen[0].context, context);
        EXPECT_EQ(seen[0].data, reinterpret_cast<DWORD_PTR>(session));
        EXPECT_EQ(seen[0].length, sizeof(HINTERNET));
    }
    // Without a callback nothing is reported.
    InternetCloseHandle(OpenDirect());
    EXPECT_TRUE(TakeRecorded().empty());
}

// The callback runs with no lock of the backend held: it can use the API,
// and by then the closing handle is no longer valid.
HINTERNET ClosingInCallback = nullptr;
DWORD QueryErrorInCallback = 0;
void CALLBACK UseTheApi(HINTERNET handle, DWORD_PTR, DWORD status, LPVOID, DWORD) {
    if (status != INTERNET_STATUS_HANDLE_CLOSING) return;
    ClosingInCallback = handle;
    DWORD type = 0, size = sizeof(type);
    InternetQueryOptionW(handle, INTERNET_OPTION_HANDLE_TYPE, &type, &size);
    QueryErrorInCallback = ::GetLastError();
    InternetCloseHandle(OpenDirect());
}

TEST_F(Handles, CallbacksRunWithoutTheTableLocked) {
    const HINTERNET session = OpenWithContext();
    InternetSetStatusCallback(session, UseTheApi);
    ASSERT_TRUE(InternetCloseHandle(session));
    EXPECT_EQ(ClosingInCallback, session);
    EXPECT_EQ(QueryErrorInCallback, static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(Handles, ChildrenInheritTheCallbackAndCloseDeepestFirst) {
    const HINTERNET session = OpenWithContext();
    InternetSetStatusCallback(session, Record);
    auto child = MakeChild(session, 11);
    auto grandchild = MakeChild(child->Value(), 22);
    auto sibling = MakeChild(session, 33);

    auto created = TakeRecorded();
    ASSERT_EQ(created.size(), 3u);
    const HINTERNET expectedCreated[] = {child->Value(), grandchild->Value(), sibling->Value()};
    const DWORD_PTR expectedContext[] = {11, 22, 33};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(created[i].status, static_cast<DWORD>(INTERNET_STATUS_HANDLE_CREATED));
        EXPECT_EQ(created[i].handle, expectedCreated[i]);
        EXPECT_EQ(created[i].data, reinterpret_cast<DWORD_PTR>(expectedCreated[i]));
        EXPECT_EQ(created[i].context, expectedContext[i]);
        EXPECT_EQ(created[i].length, sizeof(INTERNET_ASYNC_RESULT));
    }

    HINTERNET parent = nullptr;
    DWORD size = sizeof(parent);
    EXPECT_TRUE(InternetQueryOptionW(grandchild->Value(), INTERNET_OPTION_PARENT_HANDLE, &parent, &size));
    EXPECT_EQ(parent, child->Value());
    DWORD type = 0;
    size = sizeof(type);
    EXPECT_TRUE(InternetQueryOptionW(child->Value(), INTERNET_OPTION_HANDLE_TYPE, &type, &size));
    EXPECT_EQ(type, static_cast<DWORD>(INTERNET_HANDLE_TYPE_CONNECT_HTTP));
    EXPECT_EQ(Corvane::Backend::SessionOf(grandchild)->Value(), session);

    ASSERT_TRUE(InternetCloseHandle(session));
    const auto closed = TakeRecorded();
    ASSERT_EQ(closed.size(), 4u);
    const HINTERNET expectedOrder[] = {grandchild->Value(), child->Value(), sibling->Value(), session};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(closed[i].status, static_cast<DWORD>(INTERNET_STATUS_HANDLE_CLOSING));
        EXPECT_EQ(closed[i].handle, expectedOrder[i]) << "at " << i;
    }
    for (const auto* h : {child.get(), grandchild.get(), sibling.get()}) {
        EXPECT_TRUE(h->IsClosed());
        EXPECT_EQ(static_cast<const TestChild*>(h)->closes.load(), 1);
        ArmLastError();
        EXPECT_TRUE(FailedWith(InternetCloseHandle(h->Value()), ERROR_INVALID_HANDLE));
    }
}

TEST_F(Handles, ACallbackSetAfterwardsIsNotPassedToExistingChildren) {
    const HINTERNET session = OpenWithContext();
    auto before = MakeChild(session, 1);
    InternetSetStatusCallback(session, Record);
    auto after = MakeChild(session, 2);
    EXPECT_EQ(before->StatusCallback(), nullptr);
    EXPECT_EQ(after->StatusCallback(), &Record);
    InternetCloseHandle(session);
    const auto seen = TakeRecorded();
    for (const auto& n : seen) EXPECT_NE(n.handle, before->Value());
    EXPECT_EQ(seen.size(), 3u);  // created and closing of `after`, closing of the session
}

TEST_F(Handles, AChildClosedAloneIsNotClosedAgainWithItsParent) {
    const HINTERNET session = OpenDirect();
    auto child = MakeChild(session, 1);
    ASSERT_TRUE(InternetCloseHandle(child->Value()));
    ASSERT_TRUE(InternetCloseHandle(session));
    EXPECT_EQ(child->closes.load(), 1);
}

TEST_F(Handles, NothingIsRegisteredBeneathAClosedParent) {
    const HINTERNET session = OpenDirect();
    DWORD error = 0;
    HandleRef kept = HandleTable::Find(session, &error);
    InternetCloseHandle(session);
    auto orphan = std::make_shared<TestChild>(kept, 1);
    error = 0;
    EXPECT_EQ(HandleTable::Register(orphan, &error), nullptr);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(Handles, KindsAreCheckedByTheirOperationTable) {
    const HINTERNET session = OpenDirect();
    auto child = MakeChild(session, 1);
    DWORD error = 0;
    EXPECT_EQ(HandleTable::FindAs<Session>(child->Value(), Session::Ops, &error), nullptr);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INTERNET_INCORRECT_HANDLE_TYPE));
    EXPECT_NE(HandleTable::FindAs<Session>(session, Session::Ops, &error), nullptr);

    // A session option on a handle of another kind.
    DWORD timeout = 0, size = sizeof(timeout);
    ArmLastError();
    EXPECT_TRUE(
        FailedWith(InternetQueryOptionW(child->Value(), INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, &size),
                   ERROR_INTERNET_INCORRECT_HANDLE_TYPE));
    // A data operation its kind does not have.
    WIN32_FIND_DATAW found{};
    ArmLastError();
    EXPECT_TRUE(FailedWith(InternetFindNextFileW(session, &found), ERROR_INTERNET_INCORRECT_HANDLE_TYPE));
    InternetCloseHandle(session);
}

TEST_F(Handles, AHandleInUseOutlivesItsClose) {
    const HINTERNET session = OpenDirect();
    DWORD error = 0;
    HandleRef inUse = HandleTable::Find(session, &error);
    InternetCloseHandle(session);
    ASSERT_NE(inUse, nullptr);
    EXPECT_TRUE(inUse->IsClosed());
    EXPECT_EQ(std::static_pointer_cast<Session>(inUse)->Settings().agent, u"Corvane");
}

TEST_F(Handles, ManyThreadsOpenUseAndClose) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 300;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                const HINTERNET session = OpenDirect();
                DWORD timeout = static_cast<DWORD>(t * kRounds + i), read = 0, size = sizeof(read);
                auto child = MakeChild(session, 7);
                if (!session ||
                    !InternetSetOptionW(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout,
                                        sizeof(timeout)) ||
                    !InternetQueryOptionW(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &read, &size) ||
                    read != timeout || !InternetCloseHandle(session) || child->closes.load() != 1)
                    ++failures;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST_F(Handles, ConcurrentClosesOfOneHandleSucceedOnce) {
    for (int round = 0; round < 100; ++round) {
        const HINTERNET session = OpenDirect();
        auto child = MakeChild(session, 1);
        std::atomic<int> successes{0};
        std::thread a([&] { successes += InternetCloseHandle(session) ? 1 : 0; });
        std::thread b([&] { successes += InternetCloseHandle(session) ? 1 : 0; });
        a.join();
        b.join();
        EXPECT_EQ(successes.load(), 1);
        EXPECT_EQ(child->closes.load(), 1);
    }
}

}  // namespace
