// tools/host_stack.h - a stack built with the host kit: components found on
// the search path and added on a kit-made level 0, started and stopped by
// the kit, taken down when it goes out of scope; and the text of the calling
// thread's last library error. Included by the tool's sources only.
#ifndef ZERA_TOOLS_HOST_STACK_H
#define ZERA_TOOLS_HOST_STACK_H

#include <cstdint>
#include <string>
#include <vector>

#include "VOQ_ZERA_Comp.h"
#include "ZERA_Host.h"

namespace tool {

// "error <code>: <text>" for the calling thread's last error (the text
// without the code the platform layer puts in it again).
std::string LastErrorText();
// The words of a status word: "complete, started", "-" for none.
std::string StatusWords(uint32_t status);

class HostStack {
public:
    HostStack();
    ~HostStack();
    HostStack(const HostStack &) = delete;
    HostStack &operator=(const HostStack &) = delete;

    // False when level 0 could not be made (*error says why).
    bool Ready(std::string *error) const;
    // Finds the components on the search path and adds them bottom to top;
    // on the first one missing or refused stops and returns false with a
    // message naming the component and the error.
    bool Build(const std::vector<std::string> &components, std::string *error);

    StackHandle *h0() const { return h0_; }
    // Level n (0 to the top), or null when there is no such level.
    StackHandle *Level(uint32_t n) const;
    StackHandle *Top() const;
    uint32_t Height() const;

    // Starts or stops every level (the host kit's start and stop); false
    // with *error naming the level that did not start.
    bool Start(std::string *error);
    void Stop();

private:
    StackHandle *h0_;
    std::string createError_;
};

}  // namespace tool

#endif  // ZERA_TOOLS_HOST_STACK_H
