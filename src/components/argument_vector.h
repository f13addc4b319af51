#ifndef VERSTALLY_COMPONENTS_ARGUMENT_VECTOR_H
#define VERSTALLY_COMPONENTS_ARGUMENT_VECTOR_H

#include <string>
#include <vector>

namespace vonta {

/// A child's argument vector of owned copies: null-terminated at every
/// moment, and every copy freed when the vector goes, exceptions included.
class ArgumentVector {
public:
    ArgumentVector();
    ~ArgumentVector();
    ArgumentVector(const ArgumentVector&) = delete;
    ArgumentVector& operator=(const ArgumentVector&) = delete;

    /// Appends a copy of `text`; throws std::bad_alloc when out of memory.
    void append(const std::string& text);
    /// The entries with their terminating null, ready for execv.
    const std::vector<char*>& argv() const { return entries; }

private:
    std::vector<char*> entries;
};

}  // namespace vonta

#endif
