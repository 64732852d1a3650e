// Ownership, names and notifications of TComponent.
#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Framework/Framework.h"

using namespace Framework;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// Records what happens to a family of probes as readable lines.
struct TJournal {
    std::vector<std::string> Lines;
    std::set<const TComponent*> Alive;
};

std::string Narrow(const UnicodeString& S) { return Utf16ToUtf8(S); }

// A component that logs its notifications and destruction, and holds one
// reference (Peer) kept safe by the free-notification pattern. Its
// destructor reads the peer, so a reference left dangling shows up as a
// use-after-free under AddressSanitizer.
class TProbe : public TComponent {
public:
    TProbe(TComponent* AOwner, const UnicodeString& AName, TJournal& J) : TComponent(AOwner), FJournal(J) {
        SetName(AName);
        FJournal.Alive.insert(this);
    }
    ~TProbe() override {
        if (FPeer != nullptr) FPeerNameAtDeath = FPeer->Name();
        FJournal.Lines.push_back("destroy " + Narrow(Name()) +
                                 (ComponentState().Contains(csDestroying) ? " (destroying)" : ""));
        FJournal.Alive.erase(this);
    }

    TComponent* Peer() const { return FPeer; }
    void SetPeer(TComponent* Value) {
        if (FPeer == Value) return;
        if (FPeer != nullptr) FPeer->RemoveFreeNotification(this);
        FPeer = Value;
        if (FPeer != nullptr) FPeer->FreeNotification(this);
    }

    std::function<void(TComponent*, TOperation)> OnNotify;
    UnicodeString FPeerNameAtDeath;

    using TComponent::Loaded;
    using TComponent::SetDesigning;

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override {
        TComponent::Notification(AComponent, Operation);
        FJournal.Lines.push_back(Narrow(Name()) + (Operation == opInsert ? " +" : " -") + Narrow(AComponent->Name()));
        if (Operation == opRemove && AComponent == FPeer) FPeer = nullptr;
        if (OnNotify) OnNotify(AComponent, Operation);
    }

private:
    TJournal& FJournal;
    TComponent* FPeer = nullptr;
};

template <class T>
struct TBox {
    template <class U>
    struct TInner : public TComponent {
        using TComponent::TComponent;
    };
};

}  // namespace

TEST(ComponentOwnership, OwnerFreesOwnedComponentsLastFirstEachSeeingDestroying) {
    TJournal J;
    auto* Root = new TProbe(nullptr, u"Root", J);
    new TProbe(Root, u"A", J);
    new TProbe(Root, u"B", J);
    new TProbe(Root, u"C", J);
    ASSERT_EQ(Root->ComponentCount(), 3);
    J.Lines.clear();

    delete Root;

    std::vector<std::string> Destroyed;
    for (const auto& L : J.Lines)
        if (L.rfind("destroy", 0) == 0) Destroyed.push_back(L);
    // The root's own destructor body runs first; then the base part frees
    // what it owns, last created first.
    EXPECT_THAT(Destroyed, ElementsAre("destroy Root (destroying)", "destroy C (destroying)",
                                       "destroy B (destroying)", "destroy A (destroying)"));
    EXPECT_THAT(J.Alive, IsEmpty());
}

TEST(ComponentOwnership, ComponentFreedFirstLeavesItsOwnerAndTellsOwnerAndSiblings) {
    TJournal J;
    TProbe Root(nullptr, u"Root", J);
    auto* A = new TProbe(&Root, u"A", J);
    auto* B = new TProbe(&Root, u"B", J);
    auto* C = new TProbe(&Root, u"C", J);
    J.Lines.clear();

    delete B;

    EXPECT_EQ(Root.ComponentCount(), 2);
    EXPECT_EQ(Root.Components(0), A);
    EXPECT_EQ(Root.Components(1), C);
    EXPECT_EQ(Root.FindComponent(u"B"), nullptr);
    EXPECT_EQ(C->ComponentIndex(), 1);
    EXPECT_THAT(J.Lines, ElementsAre("destroy B (destroying)", "Root -B", "C -B", "A -B"));
}

TEST(ComponentOwnership, InsertNoticeReachesOwnerAndSiblingsButNotTheNewcomer) {
    TJournal J;
    TProbe Root(nullptr, u"Root", J);
    TProbe* A = new TProbe(&Root, u"A", J);
    J.Lines.clear();
    auto* B = new TProbe(&Root, u"", J);  // named after insertion, so the notices show an empty name
    B->SetName(u"B");
    EXPECT_THAT(J.Lines, ElementsAre("Root +", "A +"));
    EXPECT_EQ(A->Owner(), &Root);
}

TEST(ComponentOwnership, InsertComponentMovesOwnershipAndTellsBothFamilies) {
    TJournal J;
    TProbe First(nullptr, u"First", J);
    TProbe Second(nullptr, u"Second", J);
    auto* Stay = new TProbe(&First, u"Stay", J);
    auto* Mover = new TProbe(&First, u"Mover", J);
    auto* Local = new TProbe(&Second, u"Local", J);
    J.Lines.clear();

    Second.InsertComponent(Mover);

    EXPECT_EQ(Mover->Owner(), &Second);
    EXPECT_EQ(First.ComponentCount(), 1);
    EXPECT_EQ(First.Components(0), Stay);
    EXPECT_EQ(Second.ComponentCount(), 2);
    EXPECT_THAT(J.Lines, ElementsAre("First -Mover", "Stay -Mover", "Second +Mover", "Local +Mover"));

    // Releasing ownership leaves the component to the caller.
    Second.RemoveComponent(Mover);
    EXPECT_EQ(Mover->Owner(), nullptr);
    EXPECT_EQ(Second.ComponentCount(), 1);
    EXPECT_EQ(Second.Components(0), Local);
    delete Mover;
}

TEST(ComponentOwnership, RefusedInsertionsChangeNothing) {
    TJournal J;
    TProbe Root(nullptr, u"Root", J);
    auto* Child = new TProbe(&Root, u"Child", J);
    auto* Grandchild = new TProbe(Child, u"Grandchild", J);
    TProbe Other(nullptr, u"Other", J);
    auto* Twin = new TProbe(&Other, u"CHILD", J);

    EXPECT_THROW(Grandchild->InsertComponent(&Root), EComponentError);
    EXPECT_THROW(Child->InsertComponent(Child), EComponentError);
    EXPECT_THROW(Root.InsertComponent(nullptr), EComponentError);
    EXPECT_THROW(Root.InsertComponent(Twin), EComponentError);  // name taken, ignoring case

    EXPECT_EQ(Twin->Owner(), &Other);
    EXPECT_EQ(Root.ComponentCount(), 1);
    EXPECT_EQ(Child->Owner(), &Root);
    EXPECT_EQ(Grandchild->Owner(), Child);
}

TEST(ComponentNotifications, FreeNotificationReachesSubscribersAcrossOwnersBothWays) {
    TJournal J;
    auto* RootA = new TProbe(nullptr, u"RootA", J);
    auto* RootB = new TProbe(nullptr, u"RootB", J);
    auto* X = new TProbe(RootA, u"X", J);
    auto* Y = new TProbe(RootB, u"Y", J);
    X->SetPeer(Y);  // X asks to hear of Y's end; the link works both ways
    EXPECT_TRUE(X->ComponentState().Contains(csFreeNotification));
    J.Lines.clear();

    delete X;
    EXPECT_THAT(J.Lines, ElementsAre("destroy X (destroying)", "Y -X", "RootA -X"));
    EXPECT_FALSE(Y->ComponentState().Contains(csFreeNotification));

    auto* Z = new TProbe(RootA, u"Z", J);
    Z->SetPeer(Y);
    delete RootB;
    EXPECT_EQ(Z->Peer(), nullptr);
    delete RootA;
    EXPECT_THAT(J.Alive, IsEmpty());
}

TEST(ComponentNotifications, RemoveFreeNotificationStopsNoticesInBothDirections) {
    TJournal J;
    TProbe RootA(nullptr, u"RootA", J);
    TProbe RootB(nullptr, u"RootB", J);
    auto* X = new TProbe(&RootA, u"X", J);
    auto* Y = new TProbe(&RootB, u"Y", J);
    X->FreeNotification(Y);
    X->FreeNotification(Y);  // idempotent
    Y->RemoveFreeNotification(X);
    J.Lines.clear();
    delete Y;
    EXPECT_THAT(J.Lines, ElementsAre("destroy Y (destroying)", "RootB -Y"));
    EXPECT_FALSE(X->ComponentState().Contains(csFreeNotification));
}

// Builds two families with references across and within them, then deletes
// the five objects in every order (skipping those already freed by their
// owner). Each probe reads its peer in its destructor, so a peer pointer that
// outlived its target would be a use-after-free.
TEST(ComponentNotifications, DestructionInEveryOrderLeavesNoDanglingPointer) {
    std::vector<int> Order{0, 1, 2, 3, 4};
    int Runs = 0;
    do {
        TJournal J;
        std::vector<TProbe*> P(5);
        P[0] = new TProbe(nullptr, u"RootA", J);
        P[1] = new TProbe(nullptr, u"RootB", J);
        P[2] = new TProbe(P[0], u"X", J);
        P[3] = new TProbe(P[0], u"Y", J);
        P[4] = new TProbe(P[1], u"Z", J);
        P[2]->SetPeer(P[4]);  // across owners
        P[4]->SetPeer(P[3]);  // back again
        P[3]->SetPeer(P[2]);  // siblings
        P[0]->SetPeer(P[4]);  // a root watching another family's child
        P[1]->SetPeer(P[0]);  // a root watching the other root

        for (int Index : Order)
            if (J.Alive.count(P[Index]) != 0) delete P[Index];
        ASSERT_THAT(J.Alive, IsEmpty());
        ++Runs;
    } while (std::next_permutation(Order.begin(), Order.end()));
    EXPECT_EQ(Runs, 120);
}

TEST(ComponentNotifications, HandlerDeletingASiblingDuringABroadcastIsSafe) {
    TJournal J;
    TProbe Root(nullptr, u"Root", J);
    auto* A = new TProbe(&Root, u"A", J);
    auto* B = new TProbe(&Root, u"B", J);
    auto* C = new TProbe(&Root, u"C", J);
    auto* D = new TProbe(&Root, u"D", J);
    // When D goes, C takes A with it: the broadcast must not visit A afterwards.
    C->OnNotify = [&](TComponent* Which, TOperation Op) {
        if (Op == opRemove && Which == D && J.Alive.count(A) != 0) delete A;
    };
    delete D;
    EXPECT_EQ(Root.ComponentCount(), 2);
    EXPECT_EQ(Root.Components(0), B);
    EXPECT_EQ(Root.Components(1), C);
}

TEST(ComponentNotifications, HandlerRaisingDuringDestructionGoesToTheApplication) {
    std::vector<UnicodeString> Shown;
    Application().SetOnException([&](TObject*, Exception& E) { Shown.push_back(E.Message()); });
    {
        TJournal J;
        TProbe Root(nullptr, u"Root", J);
        auto* A = new TProbe(&Root, u"A", J);
        new TProbe(&Root, u"B", J);
        A->OnNotify = [](TComponent*, TOperation Op) {
            if (Op == opRemove) throw Exception(u"notice failed");
        };
    }  // B's removal notice raises inside A while the root destroys B
    Application().SetOnException(nullptr);
    ASSERT_EQ(Shown.size(), 1u);
    EXPECT_EQ(Shown[0], u"notice failed");
}

TEST(ComponentNames, ValidIdentifiersUniqueIgnoringCase) {
    TJournal J;
    TProbe Root(nullptr, u"Root", J);
    auto* A = new TProbe(&Root, u"Session1", J);
    auto* B = new TProbe(&Root, u"", J);

    for (const char16_t* Good : {u"_x", u"a", u"Z9", u"Http_2"}) {
        EXPECT_NO_THROW(B->SetName(Good)) << Narrow(Good);
        EXPECT_EQ(B->Name(), Good);
    }
    for (const char16_t* Bad : {u"1abc", u"a b", u"a-b", u"é", u"a.b", u" "}) {
        try {
            B->SetName(Bad);
            ADD_FAILURE() << "accepted " << Narrow(Bad);
        } catch (const EComponentError& E) {
            EXPECT_EQ(E.Message(), u"'" + UnicodeString(Bad) + u"' is not a valid component name");
        }
    }
    EXPECT_EQ(B->Name(), u"Http_2");

    try {
        B->SetName(u"SESSION1");
        ADD_FAILURE() << "duplicate accepted";
    } catch (const EComponentError& E) {
        EXPECT_EQ(E.Message(), u"A component named SESSION1 already exists");
    }
    EXPECT_EQ(B->Name(), u"Http_2");

    A->SetName(u"SESSION1");  // a change of case of its own name is fine
    EXPECT_EQ(Root.FindComponent(u"session1"), A);
    EXPECT_EQ(Root.FindComponent(u""), nullptr);

    // Names need only be unique among one owner's components, and empty
    // names never clash.
    new TProbe(&Root, u"", J);
    new TProbe(&Root, u"", J);
    TProbe Other(nullptr, u"Other", J);
    EXPECT_NO_THROW(new TProbe(&Other, u"Session1", J));
}

TEST(ComponentNames, ClassNameIsTheDynamicTypeWithoutNamespace) {
    TJournal J;
    TProbe Probe(nullptr, u"P", J);
    const TComponent& AsBase = Probe;
    EXPECT_EQ(AsBase.ClassName(), u"TProbe");
    TComponent Plain(nullptr);
    EXPECT_EQ(Plain.ClassName(), u"TComponent");
    TBox<Framework::TList>::TInner<std::string> Nested(nullptr);
    EXPECT_EQ(Nested.ClassName().substr(0, 7), u"TInner<");
    EXPECT_NE(Nested.ClassName().find(u"std::"), UnicodeString::npos);  // arguments stay qualified
    EXPECT_EQ(EConvertError(u"x").ClassName(), u"EConvertError");
}

TEST(ComponentState, DesigningSpreadsToOwnedAndInsertedComponents) {
    TJournal J;
    TProbe Root(nullptr, u"Root", J);
    auto* A = new TProbe(&Root, u"A", J);
    auto* AA = new TProbe(A, u"AA", J);
    Root.SetDesigning(true);
    EXPECT_TRUE(A->ComponentState().Contains(csDesigning));
    EXPECT_TRUE(AA->ComponentState().Contains(csDesigning));
    auto* Late = new TProbe(&Root, u"Late", J);
    EXPECT_TRUE(Late->ComponentState().Contains(csDesigning));
    Root.RemoveComponent(Late);
    EXPECT_FALSE(Late->ComponentState().Contains(csDesigning));
    delete Late;
    EXPECT_THROW(Root.Components(1), EListError);
    EXPECT_THROW(Root.Components(-1), EListError);
}
