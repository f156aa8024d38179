// A process-wide list of statically allocated items, filled by process-start
// constructors: a singly linked list that only grows at its head, without a
// lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <iterator>

namespace kesu {

template <class T>
class Registry {
 public:
  /// One entry, normally a static that lives as long as the process. A node
  /// is pushed at most once.
  struct Node {
    const T* item = nullptr;
    Node* next = nullptr;  // empty until the node is pushed
  };

  /// Pushes `node` from a static initialiser.
  class Submit {
   public:
    Submit(Registry& registry, Node& node) noexcept { registry.push(node); }
  };

  constexpr Registry() noexcept = default;
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  /// Puts `node` at the head. Safe from any number of threads at once; each
  /// node lands exactly once.
  void push(Node& node) noexcept {
    Node* head = head_.load(std::memory_order_relaxed);
    do {
      // The link is complete before the swap publishes the node. A failed
      // swap leaves the head it found in `head`, and the link is redone.
      node.next = head;
    } while (!head_.compare_exchange_weak(head, &node, std::memory_order_release, std::memory_order_relaxed));
  }

  class iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = T;
    using difference_type = std::ptrdiff_t;
    using pointer = const T*;
    using reference = const T&;

    iterator() = default;
    explicit iterator(const Node* node) : node_(node) {}
    const T& operator*() const { return *node_->item; }
    const T* operator->() const { return node_->item; }
    iterator& operator++() {
      node_ = node_->next;
      return *this;
    }
    iterator operator++(int) {
      iterator old = *this;
      node_ = node_->next;
      return old;
    }
    friend bool operator==(const iterator&, const iterator&) = default;

   private:
    const Node* node_ = nullptr;
  };

  /// The items from the last pushed to the first. Every swap was a release on
  /// the head, so this acquire sees the links of all nodes pushed before.
  iterator begin() const { return iterator(head_.load(std::memory_order_acquire)); }
  iterator end() const { return iterator(); }

 private:
  std::atomic<Node*> head_{nullptr};
};

}  // namespace kesu
