// Classes by name, operations by name.
//
// Generated code finds its own classes at run time: a collection makes items
// of its item type's name, the offline layer calls a procedure's
// "executeFlexibleClient" with N arguments, a record asks whether it declares
// a boolean property of a given name. Each generated class registers itself
// once with QN_REGISTER_CLASS, giving its name, its base, a factory and,
// optionally, tables of its callable operations and its properties.
//
//   class SdtCustomer : public qn::QNSdtBusinessComponent {
//       QN_OBJECT(SdtCustomer)
//       ...
//   };
//   QN_REGISTER_CLASS(SdtCustomer, QNSdtBusinessComponent)          // in the .cc
//   QN_REGISTER_CLASS_WITH(MyProc, Object, [](qn::ClassDefinition& c) {
//       c.method("executeFlexibleClient:::", 3, {1},
//                [](qn::Object* self, std::vector<qn::Value>& args) { ...; return qn::Value(); });
//       c.property("gxTv_Active", 'B');
//   })
//
// Thread-safe: registration and lookup may happen from any thread; a ClassInfo
// lives until the process ends and never changes after registration.
#pragma once

#include <qn/core/object.h>
#include <qn/export.h>
#include <qn/value.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace qn {

// An operation callable by name. `args` holds one slot per argument; an
// out-argument is written back into its slot by the invoker. `self` is null
// for a class operation.
struct MethodInfo {
    using Invoker = std::function<Value(Object* self, std::vector<Value>& args)>;

    std::string name;  // selector-style name, "executeFlexibleClient:::"
    int arity = 0;
    std::uint64_t outArguments = 0;  // bit i set: argument i (0-based) is an out-argument
    bool isClassMethod = false;
    Invoker invoke;

    bool isOutArgument(int index) const noexcept {
        return index >= 0 && index < 64 && ((outArguments >> index) & 1u) != 0;
    }
};

// Type codes of PropertyInfo::typeCode.
namespace PropertyType {
inline constexpr char kBool = 'B';
inline constexpr char kInt64 = 'q';
inline constexpr char kInt32 = 'i';
inline constexpr char kDouble = 'd';
inline constexpr char kObject = '@';
}  // namespace PropertyType

struct PropertyInfo {
    std::string name;  // the accessor's full name
    char typeCode = PropertyType::kObject;
};

// What a registration says about a class; ClassRegistry turns it into a ClassInfo.
class QN_API ClassDefinition {
public:
    using Factory = std::function<Ref<Object>()>;

    ClassDefinition(std::string name, std::string baseName, Factory factory);

    ClassDefinition& method(std::string name, int arity, std::initializer_list<int> outArguments,
                            MethodInfo::Invoker invoke);
    ClassDefinition& classMethod(std::string name, int arity,
                                 std::initializer_list<int> outArguments,
                                 MethodInfo::Invoker invoke);
    ClassDefinition& property(std::string name, char typeCode);

    // A factory for T when T can be made with no arguments; none otherwise.
    template <class T>
    static Factory factoryFor() {
        if constexpr (std::is_default_constructible_v<T> && !std::is_abstract_v<T>) {
            return [] { return std::static_pointer_cast<Object>(std::make_shared<T>()); };
        } else {
            return nullptr;
        }
    }

private:
    friend class ClassRegistry;
    friend class ClassInfo;
    std::string name_;
    std::string baseName_;
    Factory factory_;
    std::vector<MethodInfo> methods_;
    std::vector<PropertyInfo> properties_;
};

class QN_API ClassInfo {
public:
    const std::string& name() const noexcept { return def_.name_; }
    const std::string& baseName() const noexcept { return def_.baseName_; }
    // The registered base class, or null for a root (or a base not registered yet).
    const ClassInfo* base() const noexcept;

    bool canCreate() const noexcept { return static_cast<bool>(def_.factory_); }
    // A new instance, or null when the class has no factory.
    Ref<Object> create() const;

    // True when this class is `other` or derives from it.
    bool isKindOf(const ClassInfo* other) const noexcept;
    bool isKindOf(std::string_view className) const noexcept;

    // The operation of that name declared by this class or, failing that, by
    // its nearest base that declares one.
    const MethodInfo* methodNamed(std::string_view name) const noexcept;
    // The property of that full name, searched the same way.
    const PropertyInfo* propertyNamed(std::string_view name) const noexcept;

    // What this class itself declares (bases not included).
    const std::vector<MethodInfo>& methods() const noexcept { return def_.methods_; }
    const std::vector<PropertyInfo>& properties() const noexcept { return def_.properties_; }

    explicit ClassInfo(ClassDefinition def) : def_(std::move(def)) {}

private:
    ClassDefinition def_;
};

class QN_API ClassRegistry {
public:
    // Registers a class. A second registration of the same name keeps the
    // first and returns it (a generated class linked twice must not change
    // meaning halfway through a run).
    static const ClassInfo* registerClass(ClassDefinition definition);

    // The class of exactly that name (case-sensitive), or null.
    static const ClassInfo* classNamed(std::string_view name) noexcept;
    static const ClassInfo* classNamed(StringView name) noexcept;

    // Every registered name, sorted.
    static std::vector<std::string> classNames();
};

}  // namespace qn

// Inside a class body: ties the class to its registration.
#define QN_OBJECT(Class)                                \
public:                                                 \
    static const ::qn::ClassInfo* staticClassInfo();    \
    const ::qn::ClassInfo* classInfo() const override { \
        return Class::staticClassInfo();                \
    }                                                   \
                                                        \
private:

// In one source file: registers Class (derived from Base) under the name "Class".
#define QN_REGISTER_CLASS(Class, Base) QN_REGISTER_CLASS_WITH(Class, Base, nullptr)

// The same, with a function that adds operations and properties to the
// definition: void(qn::ClassDefinition&).
#define QN_REGISTER_CLASS_WITH(Class, Base, configure) \
    QN_REGISTER_CLASS_AS(Class, #Class, #Base, configure)

// The same under a registered name of its own (a string literal), for
// classes found by a name other than their C++ one: generated offline
// procedures register theirs in lower case. BaseName is the base's
// registered name.
#define QN_REGISTER_CLASS_AS(Class, Name, BaseName, configure)                                     \
    const ::qn::ClassInfo* Class::staticClassInfo() {                                              \
        static const ::qn::ClassInfo* const info = [] {                                            \
            ::qn::ClassDefinition def(Name, BaseName, ::qn::ClassDefinition::factoryFor<Class>()); \
            std::function<void(::qn::ClassDefinition&)> fn = configure;                            \
            if (fn) fn(def);                                                                       \
            return ::qn::ClassRegistry::registerClass(std::move(def));                             \
        }();                                                                                       \
        return info;                                                                               \
    }                                                                                              \
    namespace {                                                                                    \
    [[maybe_unused]] const ::qn::ClassInfo* const qnRegistered_##Class = Class::staticClassInfo(); \
    }
