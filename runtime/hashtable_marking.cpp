// The collector's side of the series hash tables.
#include <algorithm>
#include <vector>

#include "runtime/collector.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"

namespace kiv::hashtable {

namespace {

template <class T>
T* first_of(node_id n) {
    return reinterpret_cast<T*>(series::buffer(n)->offset);
}
template <class T>
T* end_of_used(node_id n) {
    return reinterpret_cast<T*>(series::buffer(n)->tail);
}

uint32_t entry_cells(const hash_record* r) { return r->indexes / sizeof(kiv_value); }

bool owner_type_q(const kiv_value* v) {
    uint32_t t = type_of(v);
    return t == TYPE_OBJECT || t == TYPE_ERROR || t == TYPE_PORT;
}

}  // namespace

void mark(node_id* slot) {
    if (collector::mark_node(slot)) mark_fields(*slot);
}

void mark_fields(node_id table) {
    hash_record* r = record(table);
    if (r->kind == KIND_HASH) {
        if (r->indexes) collector::mark_node(&r->indexes);
        // The chains' own nodes are marked even when the list was marked
        // already: the native stack scan may have reached it first.
        if (r->chains) {
            collector::mark_node(&r->chains);
            for (node_id* c = first_of<node_id>(r->chains); c < end_of_used<node_id>(r->chains); c++)
                collector::mark_node(c);
        }
    }
    if (r->states) collector::mark_node(&r->states);
    if (r->keys) collector::mark_node(&r->keys);
    if (r->hashes) collector::mark_node(&r->hashes);
    if (!r->blk) return;
    if (r->kind == KIND_OWNERSHIP) {
        // The entries hold their series and owners weakly: sweep_keys decides.
        collector::mark_node(&r->blk);
        return;
    }
    collector::mark_series(&r->blk);
    uint32_t size = entry_cells(r);
    if (r->kind != KIND_NODES || size == 0) return;
    kiv_value* cells = first_of<kiv_value>(r->blk);
    kiv_value* end = end_of_used<kiv_value>(r->blk);
    for (kiv_value* key = cells; key + size <= end; key += size)
        if (type_of(key) == TYPE_UNSET && key->data1) collector::mark_series(&key->data1);
}

void sweep_keys(node_id table) {
    hash_record* r = record(table);
    uint32_t size = entry_cells(r);
    if ((r->kind != KIND_NODES && r->kind != KIND_OWNERSHIP) || size == 0 || !r->blk) return;
    kiv_value* cells = first_of<kiv_value>(r->blk);
    kiv_value* end = end_of_used<kiv_value>(r->blk);

    // An entry lives when its key series, and for ownership its owner's
    // context, were reached. Marking what a live entry holds may reach
    // another entry's key or owner: repeat until nothing changes.
    std::vector<kiv_value*> pending;
    for (kiv_value* key = cells; key + size <= end; key += size) {
        if (type_of(key) != TYPE_UNSET || key->data1 == 0) continue;
        key->data1 = collector::forward(key->data1);
        if (size > 2 && owner_type_q(key + 2) && key[2].data1)
            key[2].data1 = collector::forward(key[2].data1);
        pending.push_back(key);
    }
    bool changed = true;
    while (changed) {
        changed = false;
        for (kiv_value*& key : pending) {
            if (!key || !collector::marked_q(key->data1)) continue;
            kiv_value* owner = key + 2;
            if (r->kind == KIND_OWNERSHIP && size > 2 && owner_type_q(owner) &&
                !collector::marked_q(owner->data1))
                continue;
            collector::mark_values(key + 1, key + size);
            key = nullptr;
            changed = true;
        }
    }

    // The rest: zero the key cells and free their buckets (found by offset,
    // which holds whether or not the table is stale).
    std::vector<int32_t> dead;
    for (kiv_value* key : pending) {
        if (!key) continue;
        key->header = key->data1 = 0;
        dead.push_back(int32_t(reinterpret_cast<uint8_t*>(key) - reinterpret_cast<uint8_t*>(cells)));
    }
    if (dead.empty()) return;
    std::sort(dead.begin(), dead.end());
    uint32_t* states = first_of<uint32_t>(r->states);
    int32_t* keys = first_of<int32_t>(r->keys);
    for (uint32_t i = 0; i < r->buckets; i++) {
        if (state_of(states, i) != BUCKET_USED || !std::binary_search(dead.begin(), dead.end(), keys[i])) continue;
        set_state(states, i, BUCKET_DELETED);
        r->count--;
    }
}

}  // namespace kiv::hashtable
