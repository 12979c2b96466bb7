#pragma once
// An ordered list edited in a settings page: the entries, the selected one
// and the moves the pages offer. Operations that cannot be carried out
// (a limit reached, nothing selected, an end of the list) do nothing and
// return false.

#include <cstddef>
#include <utility>
#include <vector>

namespace tav {

// Where the selection goes after the selected entry is deleted.
enum class AfterDelete { SelectPrevious, SelectNone };

template <typename T>
class WorkingList {
 public:
  const std::vector<T>& Items() const { return items_; }
  int Size() const { return static_cast<int>(items_.size()); }
  int Selected() const { return selected_; }
  const T* SelectedItem() const { return selected_ >= 0 ? &items_[Index(selected_)] : nullptr; }
  T* SelectedItem() { return selected_ >= 0 ? &items_[Index(selected_)] : nullptr; }

  // An index outside the list selects nothing.
  bool Select(int index) {
    selected_ = index >= 0 && index < Size() ? index : -1;
    return selected_ >= 0;
  }

  // Moves the selected entry one place; the selection follows.
  bool MoveUp() {
    if (selected_ <= 0) return false;
    std::swap(items_[Index(selected_)], items_[Index(selected_ - 1)]);
    --selected_;
    return true;
  }
  bool MoveDown() {
    if (selected_ < 0 || selected_ + 1 >= Size()) return false;
    std::swap(items_[Index(selected_)], items_[Index(selected_ + 1)]);
    ++selected_;
    return true;
  }

  // Appends while fewer than `limit` entries exist.
  bool Append(T item, std::size_t limit, bool select) {
    if (items_.size() >= limit) return false;
    items_.push_back(std::move(item));
    if (select) selected_ = Size() - 1;
    return true;
  }

  // Deletes the selected entry while at least `minimum` entries exist.
  bool DeleteSelected(std::size_t minimum, AfterDelete after) {
    if (selected_ < 0 || items_.size() < minimum) return false;
    items_.erase(items_.begin() + selected_);
    if (after == AfterDelete::SelectNone || items_.empty()) {
      selected_ = -1;
    } else {
      selected_ = selected_ > 0 ? selected_ - 1 : 0;
    }
    return true;
  }

  // `selected` outside the list selects nothing.
  void Replace(std::vector<T> items, int selected) {
    items_ = std::move(items);
    Select(selected);
  }

 private:
  static std::size_t Index(int index) { return static_cast<std::size_t>(index); }

  std::vector<T> items_;
  int selected_ = -1;
};

}  // namespace tav
