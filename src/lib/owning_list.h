#pragma once

#include <algorithm>
#include <memory>
#include <vector>

namespace orv {

// A list that owns its items: removing an item, clearing the list or
// destroying it destroys the items. Items keep their address while listed,
// so other records may point at them (a batch step points at its archive).
template <class T>
class OwningList {
public:
  using Items = std::vector<std::unique_ptr<T>>;

  T* Add(std::unique_ptr<T> item) {
    items_.push_back(std::move(item));
    return items_.back().get();
  }
  // Destroys the item; false when it is not in the list.
  bool Remove(const T* item) {
    const auto it =
        std::find_if(items_.begin(), items_.end(), [item](const std::unique_ptr<T>& p) { return p.get() == item; });
    if (it == items_.end()) return false;
    items_.erase(it);
    return true;
  }
  void Clear() { items_.clear(); }

  std::size_t Count() const { return items_.size(); }
  bool IsEmpty() const { return items_.empty(); }
  T& operator[](std::size_t index) const { return *items_[index]; }

  typename Items::const_iterator begin() const { return items_.begin(); }
  typename Items::const_iterator end() const { return items_.end(); }

private:
  Items items_;
};

}  // namespace orv
