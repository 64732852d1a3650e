#include "Framework/Classes.h"
#include "FrameworkConsts.h"

namespace Framework {

// Raises EListError unless 0 <= Index < Limit.
void TList::CheckIndex(int Index, int Limit) const {
    if (Index < 0 || Index >= Limit)
        throw EListError(Format(LoadResString(Consts::SListIndexError), {IntToStr(Index)}));
}

int TList::Add(void* Item) {
    FItems.push_back(Item);
    return Count() - 1;
}

void TList::Insert(int Index, void* Item) {
    CheckIndex(Index, Count() + 1);
    FItems.insert(FItems.begin() + Index, Item);
}

void TList::Delete(int Index) {
    CheckIndex(Index, Count());
    FItems.erase(FItems.begin() + Index);
}

int TList::Remove(void* Item) {
    const int Index = IndexOf(Item);
    if (Index >= 0) FItems.erase(FItems.begin() + Index);
    return Index;
}

int TList::IndexOf(const void* Item) const noexcept {
    for (std::size_t I = 0; I < FItems.size(); ++I)
        if (FItems[I] == Item) return static_cast<int>(I);
    return -1;
}

void* TList::Items(int Index) const {
    CheckIndex(Index, Count());
    return FItems[static_cast<std::size_t>(Index)];
}

void TList::Put(int Index, void* Item) {
    CheckIndex(Index, Count());
    FItems[static_cast<std::size_t>(Index)] = Item;
}

void TList::Exchange(int Index1, int Index2) {
    CheckIndex(Index1, Count());
    CheckIndex(Index2, Count());
    std::swap(FItems[static_cast<std::size_t>(Index1)], FItems[static_cast<std::size_t>(Index2)]);
}

}  // namespace Framework
