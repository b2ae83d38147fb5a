/// \file
/// Interfaces and types shared by every typed collection of the module (trace contexts,
/// variants, properties, property bags, page data): the listener that hears of added items, the
/// placement codes of InsertAt, and the caller-owned array that duplicate searches fill.
///
/// The collections share one behaviour: items are kept in insertion order with one reference
/// each; Insert and Remove fail while the collection is read-only (InsertAt and RemoveAll do
/// not); a search that finds nothing returns E_FAIL and leaves the thread's error list empty;
/// Sort is stable. A collection is not synchronised: use it from one thread at a time.
#ifndef KDTRACE_COLLECTION_H
#define KDTRACE_COLLECTION_H

#include <stdlib.h>

#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

KDTRACE_BEGIN_DECLS

// clang-format off
/// Identifier of IPLCollectionListener.
inline constexpr GUID IID_IPLCollectionListener = {0x7EDEEE22, 0x56DC, 0x48B8, {0x98, 0x9C, 0x90, 0x88, 0x5C, 0x30, 0x8C, 0x0B}};
// clang-format on

/// Implemented by a host to hear of the items a collection adds. Registered through the
/// collection's IPLEventSource (the property and property-bag collections answer it) under
/// IID_IPLCollectionListener.
struct IPLCollectionListener : IUnknown {
    /// Slot 3: told of every item Insert or InsertAt adds, before the collection takes its
    /// reference on it, on the thread that inserts.
    /// \param item  the item added
    /// \return ignored.
    virtual HRESULT ItemAdded(IUnknown* item) = 0;
};

/// Placement codes of a collection's InsertAt.
enum PLInsertPosition : LONG {
    PL_INSERT_AT_END = 0,    ///< append
    PL_INSERT_AT_FRONT = 1,  ///< insert before the first item
    PL_INSERT_BEFORE = 2,    ///< insert before the item at the index (0 <= index < count)
    PL_INSERT_AFTER = 3,     ///< insert after the item at the index (0 <= index < count)
};

/// A growable array of item pointers that the caller owns and a collection's FindDuplicates or
/// FindAllDuplicates appends to. Start it empty (`PLItemArray<IPLThing> found = {};`). The block
/// comes from the C heap, shared by host and module; each item in it carries one reference for
/// the caller. PLItemArrayClear releases the items and frees the block.
/// \tparam Item  the collection's item interface
template <class Item>
struct PLItemArray {
    Item** items;   ///< the items; null while capacity is 0
    LONG count;     ///< items in use
    LONG capacity;  ///< items the block can hold
};

/// Releases the items of an array and frees its block, leaving it empty.
/// \tparam Item  the array's item interface
/// \param array  the array; null does nothing
template <class Item>
inline void PLItemArrayClear(PLItemArray<Item>* array) {
    if (array == nullptr) return;
    for (LONG i = 0; i < array->count; ++i)
        if (array->items[i] != nullptr) array->items[i]->Release();
    free(array->items);
    array->items = nullptr;
    array->count = 0;
    array->capacity = 0;
}

KDTRACE_END_DECLS

#endif  // KDTRACE_COLLECTION_H
