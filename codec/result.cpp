#include "codec/result.h"

namespace vexel {

namespace {

struct ReasonEntry {
    int code;
    const char* name;
};

constexpr ReasonEntry kReasons[] = {
    {1, "done"},
    {0, "failed"},
    {0, "a read failed"},
    {0, "the stream does not expand"},
    {0, "the stream does not parse"},
    {0, "another stream of the record failed"},
    {0, "drawing failed"},
    {0, "encoding failed"},
    {0, "the file ends inside the record"},
    {-1, "file error"},
    {-1, "the file cannot be opened"},
    {-1, "the output cannot be written"},
    {-1, "the output cannot replace its target"},
    {-1, "no grouped output to write to"},
    {-2, "not a .vx record"},
    {-2, "a mode this program does not know"},
    {-3, "out of memory"},
    {-3, "the pixels cannot be had"},
};
static_assert(sizeof(kReasons) / sizeof(kReasons[0]) == static_cast<std::size_t>(Reason::Count),
              "every reason has a name");

} // namespace

const char* reasonName(Reason reason) {
    const auto i = static_cast<std::size_t>(reason);
    return i < static_cast<std::size_t>(Reason::Count) ? kReasons[i].name : "unknown reason";
}

int reasonCode(Reason reason) {
    const auto i = static_cast<std::size_t>(reason);
    return i < static_cast<std::size_t>(Reason::Count) ? kReasons[i].code : 0;
}

} // namespace vexel
