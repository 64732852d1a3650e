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

std::string Narrow(const UnicodeString& s) {
    return Utf16ToUtf8(s);
}

// A component that logs its notifications and destruction, and holds one
// reference (Peer) kept safe by the free-notification pattern. Its
// destructor reads the peer, so a reference left dangling shows up as a
// use-after-free under AddressSanitizer.
class TProbe : public TComponent {
public:
    TProbe(TComponent* owner, const UnicodeString& name, TJournal& j) : TComponent(owner), FJournal(j) {
        SetName(name);
        FJournal.Alive.insert(this);
    }
    ~TProbe() override {
        if (FPeer != nullptr) FPeerNameAtDeath = FPeer->Name();
        FJournal.Lines.push_back("destroy " + Narrow(Name()) +
                                 (ComponentState().Contains(csDestroying) ? " (destroying)" : ""));
        FJournal.Alive.erase(this);
    }

    TComponent* Peer() const { return FPeer; }
    void SetPeer(TComponent* value) {
        if (FPeer == value) return;
        if (FPeer != nullptr) FPeer->RemoveFreeNotification(this);
        FPeer = value;
        if (FPeer != nullptr) FPeer->FreeNotification(this);
    }

    std::function<void(TComponent*, TOperation)> OnNotify;
    UnicodeString FPeerNameAtDeath;

    using TComponent::Loaded;
    using TComponent::SetDesigning;

protected:
    void Notification(TComponent* component, TOperation operation) override {
        TComponent::Notification(component, operation);
        FJournal.Lines.push_back(Narrow(Name()) + (operation == opInsert ? " +" : " -") +
                                 Narrow(component->Name()));
        if (operation == opRemove && component == FPeer) FPeer = nullptr;
        if (OnNotify) OnNotify(component, operation);
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
    TJournal j;
    auto* root = new TProbe(nullptr, u"Root", j);
    new TProbe(root, u"A", j);
    new TProbe(root, u"B", j);
    new TProbe(root, u"C", j);
    ASSERT_EQ(root->ComponentCount(), 3);
    j.Lines.clear();

    delete root;

    std::vector<std::string> destroyed;
    for (const auto& l : j.Lines)
        if (l.rfind("destroy", 0) == 0) destroyed.push_back(l);
    // The root's own destructor body runs first; then the base part frees
    // what it owns, last created first.
    EXPECT_THAT(destroyed, ElementsAre("destroy Root (destroying)", "destroy C (destroying)",
                                       "destroy B (destroying)", "destroy A (destroying)"));
    EXPECT_THAT(j.Alive, IsEmpty());
}

TEST(ComponentOwnership, ComponentFreedFirstLeavesItsOwnerAndTellsOwnerAndSiblings) {
    TJournal j;
    TProbe root(nullptr, u"Root", j);
    auto* a = new TProbe(&root, u"A", j);
    auto* b = new TProbe(&root, u"B", j);
    auto* c = new TProbe(&root, u"C", j);
    j.Lines.clear();

    delete b;

    EXPECT_EQ(root.ComponentCount(), 2);
    EXPECT_EQ(root.Components(0), a);
    EXPECT_EQ(root.Components(1), c);
    EXPECT_EQ(root.FindComponent(u"B"), nullptr);
    EXPECT_EQ(c->ComponentIndex(), 1);
    EXPECT_THAT(j.Lines, ElementsAre("destroy B (destroying)", "Root -B", "C -B", "A -B"));
}

TEST(ComponentOwnership, InsertNoticeReachesOwnerAndSiblingsButNotTheNewcomer) {
    TJournal j;
    TProbe root(nullptr, u"Root", j);
    TProbe* a = new TProbe(&root, u"A", j);
    j.Lines.clear();
    auto* b = new TProbe(&root, u"", j);  // named after insertion, so the notices show an empty name
    b->SetName(u"B");
    EXPECT_THAT(j.Lines, ElementsAre("Root +", "A +"));
    EXPECT_EQ(a->Owner(), &root);
}

TEST(ComponentOwnership, InsertComponentMovesOwnershipAndTellsBothFamilies) {
    TJournal j;
    TProbe first(nullptr, u"First", j);
    TProbe second(nullptr, u"Second", j);
    auto* stay = new TProbe(&first, u"Stay", j);
    auto* mover = new TProbe(&first, u"Mover", j);
    auto* local = new TProbe(&second, u"Local", j);
    j.Lines.clear();

    second.InsertComponent(mover);

    EXPECT_EQ(mover->Owner(), &second);
    EXPECT_EQ(first.ComponentCount(), 1);
    EXPECT_EQ(first.Components(0), stay);
    EXPECT_EQ(second.ComponentCount(), 2);
    EXPECT_THAT(j.Lines, ElementsAre("First -Mover", "Stay -Mover", "Second +Mover", "Local +Mover"));

    // Releasing ownership leaves the component to the caller.
    second.RemoveComponent(mover);
    EXPECT_EQ(mover->Owner(), nullptr);
    EXPECT_EQ(second.ComponentCount(), 1);
    EXPECT_EQ(second.Components(0), local);
    delete mover;
}

TEST(ComponentOwnership, RefusedInsertionsChangeNothing) {
    TJournal j;
    TProbe root(nullptr, u"Root", j);
    auto* child = new TProbe(&root, u"Child", j);
    auto* grandchild = new TProbe(child, u"Grandchild", j);
    TProbe other(nullptr, u"Other", j);
    auto* twin = new TProbe(&other, u"CHILD", j);

    EXPECT_THROW(grandchild->InsertComponent(&root), EComponentError);
    EXPECT_THROW(child->InsertComponent(child), EComponentError);
    EXPECT_THROW(root.InsertComponent(nullptr), EComponentError);
    EXPECT_THROW(root.InsertComponent(twin), EComponentError);  // name taken, ignoring case

    EXPECT_EQ(twin->Owner(), &other);
    EXPECT_EQ(root.ComponentCount(), 1);
    EXPECT_EQ(child->Owner(), &root);
    EXPECT_EQ(grandchild->Owner(), child);
}

TEST(ComponentNotifications, FreeNotificationReachesSubscribersAcrossOwnersBothWays) {
    TJournal j;
    auto* rootA = new TProbe(nullptr, u"RootA", j);
    auto* rootB = new TProbe(nullptr, u"RootB", j);
    auto* x = new TProbe(rootA, u"X", j);
    auto* y = new TProbe(rootB, u"Y", j);
    x->SetPeer(y);  // X asks to hear of Y's end; the link works both ways
    EXPECT_TRUE(x->ComponentState().Contains(csFreeNotification));
    j.Lines.clear();

    delete x;
    EXPECT_THAT(j.Lines, ElementsAre("destroy X (destroying)", "Y -X", "RootA -X"));
    EXPECT_FALSE(y->ComponentState().Contains(csFreeNotification));

    auto* z = new TProbe(rootA, u"Z", j);
    z->SetPeer(y);
    delete rootB;
    EXPECT_EQ(z->Peer(), nullptr);
    delete rootA;
    EXPECT_THAT(j.Alive, IsEmpty());
}

TEST(ComponentNotifications, RemoveFreeNotificationStopsNoticesInBothDirections) {
    TJournal j;
    TProbe rootA(nullptr, u"RootA", j);
    TProbe rootB(nullptr, u"RootB", j);
    auto* x = new TProbe(&rootA, u"X", j);
    auto* y = new TProbe(&rootB, u"Y", j);
    x->FreeNotification(y);
    x->FreeNotification(y);  // idempotent
    y->RemoveFreeNotification(x);
    j.Lines.clear();
    delete y;
    EXPECT_THAT(j.Lines, ElementsAre("destroy Y (destroying)", "RootB -Y"));
    EXPECT_FALSE(x->ComponentState().Contains(csFreeNotification));
}

// Builds two families with references across and within them, then deletes
// the five objects in every order (skipping those already freed by their
// owner). Each probe reads its peer in its destructor, so a peer pointer that
// outlived its target would be a use-after-free.
TEST(ComponentNotifications, DestructionInEveryOrderLeavesNoDanglingPointer) {
    std::vector<int> order{0, 1, 2, 3, 4};
    int runs = 0;
    do {
        TJournal j;
        std::vector<TProbe*> p(5);
        p[0] = new TProbe(nullptr, u"RootA", j);
        p[1] = new TProbe(nullptr, u"RootB", j);
        p[2] = new TProbe(p[0], u"X", j);
        p[3] = new TProbe(p[0], u"Y", j);
        p[4] = new TProbe(p[1], u"Z", j);
        p[2]->SetPeer(p[4]);  // across owners
        p[4]->SetPeer(p[3]);  // back again
        p[3]->SetPeer(p[2]);  // siblings
        p[0]->SetPeer(p[4]);  // a root watching another family's child
        p[1]->SetPeer(p[0]);  // a root watching the other root

        for (int index : order)
            if (j.Alive.count(p[index]) != 0) delete p[index];
        ASSERT_THAT(j.Alive, IsEmpty());
        ++runs;
    } while (std::next_permutation(order.begin(), order.end()));
    EXPECT_EQ(runs, 120);
}

TEST(ComponentNotifications, HandlerDeletingASiblingDuringABroadcastIsSafe) {
    TJournal j;
    TProbe root(nullptr, u"Root", j);
    auto* A = new TProbe(&root, u"A", j);
    auto* b = new TProbe(&root, u"B", j);
    auto* c = new TProbe(&root, u"C", j);
    auto* D = new TProbe(&root, u"D", j);
    // When D goes, C takes A with it: the broadcast must not visit A afterwards.
    c->OnNotify = [&](TComponent* which, TOperation op) {
        if (op == opRemove && which == D && j.Alive.count(A) != 0) delete A;
    };
    delete D;
    EXPECT_EQ(root.ComponentCount(), 2);
    EXPECT_EQ(root.Components(0), b);
    EXPECT_EQ(root.Components(1), c);
}

TEST(ComponentNotifications, HandlerRaisingDuringDestructionGoesToTheApplication) {
    std::vector<UnicodeString> shown;
    Application().SetOnException([&](TObject*, Exception& e) { shown.push_back(e.Message()); });
    {
        TJournal j;
        TProbe root(nullptr, u"Root", j);
        auto* a = new TProbe(&root, u"A", j);
        new TProbe(&root, u"B", j);
        a->OnNotify = [](TComponent*, TOperation op) {
            if (op == opRemove) throw Exception(u"notice failed");
        };
    }  // B's removal notice raises inside A while the root destroys B
    Application().SetOnException(nullptr);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], u"notice failed");
}

TEST(ComponentNames, ValidIdentifiersUniqueIgnoringCase) {
    TJournal j;
    TProbe root(nullptr, u"Root", j);
    auto* a = new TProbe(&root, u"Session1", j);
    auto* b = new TProbe(&root, u"", j);

    for (const char16_t* good : {u"_x", u"a", u"Z9", u"Http_2"}) {
        EXPECT_NO_THROW(b->SetName(good)) << Narrow(good);
        EXPECT_EQ(b->Name(), good);
    }
    for (const char16_t* bad : {u"1abc", u"a b", u"a-b", u"é", u"a.b", u" "}) {
        try {
            b->SetName(bad);
            ADD_FAILURE() << "accepted " << Narrow(bad);
        } catch (const EComponentError& e) {
            EXPECT_EQ(e.Message(), u"'" + UnicodeString(bad) + u"' is not a valid component name");
        }
    }
    EXPECT_EQ(b->Name(), u"Http_2");

    try {
        b->SetName(u"SESSION1");
        ADD_FAILURE() << "duplicate accepted";
    } catch (const EComponentError& e) {
        EXPECT_EQ(e.Message(), u"A component named SESSION1 already exists");
    }
    EXPECT_EQ(b->Name(), u"Http_2");

    a->SetName(u"SESSION1");  // a change of case of its own name is fine
    EXPECT_EQ(root.FindComponent(u"session1"), a);
    EXPECT_EQ(root.FindComponent(u""), nullptr);

    // Names need only be unique among one owner's components, and empty
    // names never clash.
    new TProbe(&root, u"", j);
    new TProbe(&root, u"", j);
    TProbe other(nullptr, u"Other", j);
    EXPECT_NO_THROW(new TProbe(&other, u"Session1", j));
}

TEST(ComponentNames, ClassNameIsTheDynamicTypeWithoutNamespace) {
    TJournal j;
    TProbe probe(nullptr, u"P", j);
    const TComponent& asBase = probe;
    EXPECT_EQ(asBase.ClassName(), u"TProbe");
    TComponent plain(nullptr);
    EXPECT_EQ(plain.ClassName(), u"TComponent");
    TBox<Framework::TList>::TInner<std::string> nested(nullptr);
    EXPECT_EQ(nested.ClassName().substr(0, 7), u"TInner<");
    EXPECT_NE(nested.ClassName().find(u"std::"), UnicodeString::npos);  // arguments stay qualified
    EXPECT_EQ(EConvertError(u"x").ClassName(), u"EConvertError");
}

TEST(ComponentState, DesigningSpreadsToOwnedAndInsertedComponents) {
    TJournal j;
    TProbe root(nullptr, u"Root", j);
    auto* a = new TProbe(&root, u"A", j);
    auto* aa = new TProbe(a, u"AA", j);
    root.SetDesigning(true);
    EXPECT_TRUE(a->ComponentState().Contains(csDesigning));
    EXPECT_TRUE(aa->ComponentState().Contains(csDesigning));
    auto* late = new TProbe(&root, u"Late", j);
    EXPECT_TRUE(late->ComponentState().Contains(csDesigning));
    root.RemoveComponent(late);
    EXPECT_FALSE(late->ComponentState().Contains(csDesigning));
    delete late;
    EXPECT_THROW(root.Components(1), EListError);
    EXPECT_THROW(root.Components(-1), EListError);
}
