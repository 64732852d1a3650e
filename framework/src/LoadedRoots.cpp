#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "Framework/FormFiles.h"
#include "PropertyInternals.h"

namespace Framework {

namespace {

struct TLoadedRoots {
    std::mutex Lock;
    std::vector<TComponent*> Roots;
    std::atomic<bool> Used{false};
};

TLoadedRoots& Roots() {
    static TLoadedRoots* Instance = new TLoadedRoots;
    return *Instance;
}

}  // namespace

void AddLoadedRoot(TComponent* Root) {
    if (Root == nullptr) return;
    TLoadedRoots& R = Roots();
    std::lock_guard Guard(R.Lock);
    if (std::find(R.Roots.begin(), R.Roots.end(), Root) == R.Roots.end()) R.Roots.push_back(Root);
    R.Used = true;
}

void RemoveLoadedRoot(TComponent* Root) noexcept {
    TLoadedRoots& R = Roots();
    std::lock_guard Guard(R.Lock);
    std::erase(R.Roots, Root);
}

TComponent* FindLoadedRoot(std::u16string_view Name) noexcept {
    if (Name.empty()) return nullptr;
    TLoadedRoots& R = Roots();
    std::lock_guard Guard(R.Lock);
    for (TComponent* Root : R.Roots)
        if (SameText(Root->Name(), Name)) return Root;
    return nullptr;
}

namespace Detail {

// Every component calls this as it is destroyed; until some root was
// registered it costs one atomic load.
void ForgetLoadedRoot(TComponent* Component) noexcept {
    TLoadedRoots& R = Roots();
    if (!R.Used.load(std::memory_order_acquire)) return;
    std::lock_guard Guard(R.Lock);
    std::erase(R.Roots, Component);
}

}  // namespace Detail

}  // namespace Framework
