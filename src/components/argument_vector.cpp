#include "components/argument_vector.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace vonta {

ArgumentVector::ArgumentVector() { entries.push_back(nullptr); }

ArgumentVector::~ArgumentVector() {
    for (char* entry : entries) std::free(entry);
}

void ArgumentVector::append(const std::string& text) {
    // Grow first: if that throws, nothing has been copied yet, and the old
    // terminator stays last.
    entries.push_back(nullptr);
    char* copy = strdup(text.c_str());
    if (copy == nullptr) throw std::bad_alloc();
    entries[entries.size() - 2] = copy;
}

}  // namespace vonta
