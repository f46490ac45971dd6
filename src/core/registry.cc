// The process-wide table of classes by name.
//
// Registrations mostly happen during static initialisation of the library and
// of generated code, possibly from several shared objects; lookups happen
// from any thread afterwards. A shared mutex lets lookups run in parallel.

#include <qn/core/registry.h>

#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>

namespace qn {

namespace {

struct Registry {
    std::shared_mutex mutex;
    std::map<std::string, std::unique_ptr<ClassInfo>, std::less<>> classes;
};

Registry& registry() {
    // Never destroyed: registrations of other shared objects may outlive ours.
    static Registry* instance = [] {
        auto* r = new Registry;
        r->classes.emplace("Object",
                           std::make_unique<ClassInfo>(ClassDefinition("Object", "", nullptr)));
        return r;
    }();
    return *instance;
}

std::uint64_t outArgumentMask(std::initializer_list<int> outArguments) {
    std::uint64_t mask = 0;
    for (int index : outArguments) {
        if (index >= 0 && index < 64) mask |= std::uint64_t{1} << index;
    }
    return mask;
}

// Bounds a walk up the base chain, so a cycle made by mistake (A derives from
// B, B from A) ends instead of spinning.
constexpr int kMaxInheritanceDepth = 256;

}  // namespace

ClassDefinition::ClassDefinition(std::string name, std::string baseName, Factory factory)
    : name_(std::move(name)), baseName_(std::move(baseName)), factory_(std::move(factory)) {}

ClassDefinition& ClassDefinition::method(std::string name, int arity,
                                         std::initializer_list<int> outArguments,
                                         MethodInfo::Invoker invoke) {
    methods_.push_back(MethodInfo{std::move(name), arity, outArgumentMask(outArguments), false,
                                  std::move(invoke)});
    return *this;
}

ClassDefinition& ClassDefinition::classMethod(std::string name, int arity,
                                              std::initializer_list<int> outArguments,
                                              MethodInfo::Invoker invoke) {
    methods_.push_back(
        MethodInfo{std::move(name), arity, outArgumentMask(outArguments), true, std::move(invoke)});
    return *this;
}

ClassDefinition& ClassDefinition::property(std::string name, char typeCode) {
    properties_.push_back(PropertyInfo{std::move(name), typeCode});
    return *this;
}

const ClassInfo* ClassInfo::base() const noexcept {
    if (def_.baseName_.empty() || def_.baseName_ == def_.name_) return nullptr;
    return ClassRegistry::classNamed(std::string_view(def_.baseName_));
}

Ref<Object> ClassInfo::create() const {
    if (!def_.factory_) return nullptr;
    return def_.factory_();
}

namespace {

// The first non-null answer of `find` for the class and then each of its
// bases, nearest first; null when none answers.
template <class Find>
auto findUpTheChain(const ClassInfo* start, Find find) noexcept -> decltype(find(start)) {
    const ClassInfo* c = start;
    for (int depth = 0; c != nullptr && depth < kMaxInheritanceDepth; ++depth, c = c->base()) {
        if (auto found = find(c)) return found;
    }
    return nullptr;
}

template <class Item>
const Item* itemNamed(const std::vector<Item>& items, std::string_view name) noexcept {
    for (const auto& item : items) {
        if (item.name == name) return &item;
    }
    return nullptr;
}

}  // namespace

bool ClassInfo::isKindOf(const ClassInfo* other) const noexcept {
    if (other == nullptr) return false;
    return findUpTheChain(this, [other](const ClassInfo* c) { return c == other ? c : nullptr; });
}

bool ClassInfo::isKindOf(std::string_view className) const noexcept {
    return findUpTheChain(
        this, [className](const ClassInfo* c) { return c->name() == className ? c : nullptr; });
}

const MethodInfo* ClassInfo::methodNamed(std::string_view name) const noexcept {
    return findUpTheChain(this,
                          [name](const ClassInfo* c) { return itemNamed(c->methods(), name); });
}

const PropertyInfo* ClassInfo::propertyNamed(std::string_view name) const noexcept {
    return findUpTheChain(this,
                          [name](const ClassInfo* c) { return itemNamed(c->properties(), name); });
}

const ClassInfo* ClassRegistry::registerClass(ClassDefinition definition) {
    auto& r = registry();
    std::unique_lock lock(r.mutex);
    auto it = r.classes.find(definition.name_);
    if (it != r.classes.end()) return it->second.get();
    std::string name = definition.name_;
    auto info = std::make_unique<ClassInfo>(std::move(definition));
    const ClassInfo* result = info.get();
    r.classes.emplace(std::move(name), std::move(info));
    return result;
}

const ClassInfo* ClassRegistry::classNamed(std::string_view name) noexcept {
    auto& r = registry();
    std::shared_lock lock(r.mutex);
    auto it = r.classes.find(name);
    return it == r.classes.end() ? nullptr : it->second.get();
}

const ClassInfo* ClassRegistry::classNamed(StringView name) noexcept {
    // Registered names are ASCII; any other text matches nothing.
    return classNamed(std::string_view(toUtf8(name)));
}

std::vector<std::string> ClassRegistry::classNames() {
    auto& r = registry();
    std::shared_lock lock(r.mutex);
    std::vector<std::string> names;
    names.reserve(r.classes.size());
    for (const auto& [name, info] : r.classes)
        names.push_back(name);
    return names;
}

}  // namespace qn
