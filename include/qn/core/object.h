// The root of every reference type of the library (collections, records,
// properties, files, clients, ...).
//
// Objects are shared: a qn::Ref<T> (std::shared_ptr) is an owner, a
// std::weak_ptr a weak reference. The virtual operations below are what every
// object answers; generated classes override them as they need. A class that
// can be found by name declares QN_OBJECT(Class) and is registered with
// QN_REGISTER_CLASS (see <qn/core/registry.h>).
//
// Thread-compatibility is each subclass's to state; Object itself holds no state.
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>

#include <cstddef>
#include <memory>

namespace qn {

class Value;
class ClassInfo;

template <class T>
using Ref = std::shared_ptr<T>;
template <class T>
using WeakRef = std::weak_ptr<T>;

class QN_API Object : public std::enable_shared_from_this<Object> {
public:
    Object() = default;
    Object(const Object&) = default;
    Object& operator=(const Object&) = default;
    virtual ~Object();

    // The registered class of this object, or null for an unregistered class.
    virtual const ClassInfo* classInfo() const { return nullptr; }
    // The registered class name; for an unregistered class its C++ type name.
    virtual String className() const;
    // The text form "%@" gives; by default "<ClassName>".
    virtual String description() const;
    virtual String debugDescription() const { return description(); }
    // Identity by default.
    virtual bool isEqual(const Value& other) const;
    virtual std::size_t hash() const;

    // True when this object's registered class is, or derives from, the named
    // registered class.
    bool isKindOfClassNamed(std::string_view name) const;
};

// Shared ownership of a new T.
template <class T, class... Args>
Ref<T> makeRef(Args&&... args) {
    return std::make_shared<T>(std::forward<Args>(args)...);
}

}  // namespace qn
