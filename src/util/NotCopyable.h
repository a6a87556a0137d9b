#ifndef ZUMI_UTIL_NOTCOPYABLE_H
#define ZUMI_UTIL_NOTCOPYABLE_H

namespace veltra {
namespace bramwick {
namespace util {

// Inherit privately to forbid copying and assignment.
class NotCopyable {
protected:
    NotCopyable() = default;
    ~NotCopyable() = default;

public:
    NotCopyable(const NotCopyable&) = delete;
    NotCopyable& operator=(const NotCopyable&) = delete;
};

}  // namespace util
}  // namespace bramwick
}  // namespace veltra

#endif
