#include "Framework/Classes.h"
#include "FrameworkConsts.h"

namespace Framework {

// Raises EListError unless 0 <= Index < Limit.
void TList::CheckIndex(int index, int limit) const {
    if (index < 0 || index >= limit)
        throw EListError(Format(LoadResString(Consts::SListIndexError), {IntToStr(index)}));
}

int TList::Add(void* item) {
    FItems.push_back(item);
    return Count() - 1;
}

void TList::Insert(int index, void* item) {
    CheckIndex(index, Count() + 1);
    FItems.insert(FItems.begin() + index, item);
}

void TList::Delete(int index) {
    CheckIndex(index, Count());
    FItems.erase(FItems.begin() + index);
}

int TList::Remove(void* item) {
    const int index = IndexOf(item);
    if (index >= 0) FItems.erase(FItems.begin() + index);
    return index;
}

int TList::IndexOf(const void* item) const noexcept {
    for (std::size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i] == item) return static_cast<int>(i);
    return -1;
}

void* TList::Items(int index) const {
    CheckIndex(index, Count());
    return FItems[static_cast<std::size_t>(index)];
}

void TList::Put(int index, void* item) {
    CheckIndex(index, Count());
    FItems[static_cast<std::size_t>(index)] = item;
}

void TList::Exchange(int index1, int index2) {
    CheckIndex(index1, Count());
    CheckIndex(index2, Count());
    std::swap(FItems[static_cast<std::size_t>(index1)], FItems[static_cast<std::size_t>(index2)]);
}

}  // namespace Framework
