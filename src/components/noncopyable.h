#ifndef VERSTALLY_COMPONENTS_NONCOPYABLE_H
#define VERSTALLY_COMPONENTS_NONCOPYABLE_H

// Empty bases that forbid copying to the classes derived from them.

/// A class derived from this one cannot be copy-constructed.
class NonCopyConstructibleConcept {
public:
    NonCopyConstructibleConcept(const NonCopyConstructibleConcept&) = delete;

protected:
    NonCopyConstructibleConcept() = default;
    ~NonCopyConstructibleConcept() = default;
    NonCopyConstructibleConcept& operator=(const NonCopyConstructibleConcept&) = default;
};

/// A class derived from this one cannot be copy-assigned.
class NonAssignableConcept {
public:
    NonAssignableConcept& operator=(const NonAssignableConcept&) = delete;

protected:
    NonAssignableConcept() = default;
    ~NonAssignableConcept() = default;
    NonAssignableConcept(const NonAssignableConcept&) = default;
};

/// A class derived from this one can be neither copied nor assigned.
class NonCopyableConcept : public NonCopyConstructibleConcept, public NonAssignableConcept {
protected:
    NonCopyableConcept() = default;
    ~NonCopyableConcept() = default;
};

#endif
