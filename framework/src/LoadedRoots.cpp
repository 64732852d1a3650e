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
    static TLoadedRoots* instance = new TLoadedRoots;
    return *instance;
}

}  // namespace

void AddLoadedRoot(TComponent* root) {
    if (root == nullptr) return;
    TLoadedRoots& r = Roots();
    std::lock_guard guard(r.Lock);
    if (std::find(r.Roots.begin(), r.Roots.end(), root) == r.Roots.end()) r.Roots.push_back(root);
    r.Used = true;
}

void RemoveLoadedRoot(TComponent* root) noexcept {
    TLoadedRoots& r = Roots();
    std::lock_guard guard(r.Lock);
    std::erase(r.Roots, root);
}

TComponent* FindLoadedRoot(std::u16string_view name) noexcept {
    if (name.empty()) return nullptr;
    TLoadedRoots& r = Roots();
    std::lock_guard guard(r.Lock);
    for (TComponent* root : r.Roots)
        if (SameText(root->Name(), name)) return root;
    return nullptr;
}

namespace Detail {

// Every component calls this as it is destroyed; until some root was
// registered it costs one atomic load.
void ForgetLoadedRoot(TComponent* component) noexcept {
    TLoadedRoots& r = Roots();
    if (!r.Used.load(std::memory_order_acquire)) return;
    std::lock_guard guard(r.Lock);
    std::erase(r.Roots, component);
}

}  // namespace Detail

}  // namespace Framework
