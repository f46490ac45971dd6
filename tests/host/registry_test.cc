#include <qn/host.h>
#include "support/test_support.h"

namespace regtest {

class RtBase : public qn::Object {
    QN_OBJECT(RtBase)
public:
    int baseValue = 7;
};
QN_REGISTER_CLASS_WITH(RtBase, Object, [](qn::ClassDefinition& c) {
    c.property("gxTv_Active", qn::PropertyType::kBool);
    c.method("describe", 0, {}, [](qn::Object* self, std::vector<qn::Value>&) {
        return qn::Value(self ? self->className() : qn::String(u"none"));
    });
})

// A generated procedure: its second argument is an out-argument.
class RtProcedure : public RtBase {
    QN_OBJECT(RtProcedure)
public:
    int calls = 0;
};
QN_REGISTER_CLASS_WITH(RtProcedure, RtBase, [](qn::ClassDefinition& c) {
    c.method("executeFlexibleClient:::", 3, {1},
             [](qn::Object* self, std::vector<qn::Value>& args) {
                 static_cast<RtProcedure*>(self)->calls++;
                 args[1] = qn::Value(args[0].integerValue() * 2);
                 return qn::Value(true);
             });
    c.classMethod("make:", 1, {0}, [](qn::Object*, std::vector<qn::Value>& args) {
        args[0] = qn::Value(u"made");
        return qn::Value();
    });
    c.property("gxTv_Total", qn::PropertyType::kInt64);
})

// Not default-constructible: found by name but cannot be made.
class RtNeedsArgument : public qn::Object {
    QN_OBJECT(RtNeedsArgument)
public:
    explicit RtNeedsArgument(int) {}
};
QN_REGISTER_CLASS(RtNeedsArgument, Object)

class RtUnregistered : public qn::Object {};

}  // namespace regtest

namespace qn {
namespace {

TEST(ClassRegistryTest, FindsCreatesNamesAndDerivesRegisteredClasses) {
    const ClassInfo* info = ClassRegistry::classNamed("RtProcedure");
    const ClassInfo* base = ClassRegistry::classNamed("RtBase");
    const ClassInfo* root = ClassRegistry::classNamed("Object");
    ASSERT_TRUE(info && base && root);
    EXPECT_EQ(info->base(), base);
    EXPECT_EQ(ClassRegistry::classNamed("rtprocedure"), nullptr) << "lookup is case-sensitive";
    EXPECT_EQ(ClassRegistry::classNamed("NoSuchClass"), nullptr);
    EXPECT_EQ(ClassRegistry::classNamed(u"Rt\u00e9"), nullptr);

    Ref<Object> made = info->create();
    ASSERT_TRUE(made);
    EXPECT_NE(std::dynamic_pointer_cast<regtest::RtProcedure>(made), nullptr);
    EXPECT_EQ(made->className(), u"RtProcedure");

    EXPECT_TRUE(info->isKindOf(base) && info->isKindOf(root) && info->isKindOf("RtBase"));
    EXPECT_FALSE(base->isKindOf(info) || base->isKindOf(nullptr));
    EXPECT_TRUE(made->isKindOfClassNamed("RtBase"));
    regtest::RtUnregistered plain;
    EXPECT_FALSE(plain.isKindOfClassNamed("Object"));
    EXPECT_NE(plain.className().find(u"RtUnregistered"), String::npos);

    const ClassInfo* unmakeable = ClassRegistry::classNamed("RtNeedsArgument");
    ASSERT_NE(unmakeable, nullptr);
    EXPECT_FALSE(unmakeable->canCreate());
    EXPECT_EQ(unmakeable->create(), nullptr);
    EXPECT_EQ(ClassRegistry::registerClass(ClassDefinition("RtBase", "Object", nullptr)), base)
        << "a second registration of a name keeps the first";
}

TEST(ClassRegistryTest, InvokerWritesOutArgumentsBackAndTablesAreInheritedPerClass) {
    const ClassInfo* info = ClassRegistry::classNamed("RtProcedure");
    const MethodInfo* method = info->methodNamed("executeFlexibleClient:::");
    ASSERT_NE(method, nullptr);
    for (int i : {0, 2, -1, 64})
        EXPECT_FALSE(method->isOutArgument(i)) << i;
    EXPECT_TRUE(method->isOutArgument(1));

    auto object = info->create();
    std::vector<Value> args{Value(21), Value(u"unchanged?"), Value(u"third")};
    Value result = method->invoke(object.get(), args);
    EXPECT_TRUE(result.boolValue());
    EXPECT_EQ(args, (std::vector<Value>{Value(21), Value(42), Value(u"third")}));
    EXPECT_EQ(std::static_pointer_cast<regtest::RtProcedure>(object)->calls, 1);

    const MethodInfo* factory = info->methodNamed("make:");
    ASSERT_NE(factory, nullptr);
    std::vector<Value> slot{Value()};
    factory->invoke(nullptr, slot);
    EXPECT_EQ(slot[0].asString(), u"made");

    // Methods and properties are inherited, but the tables stay per class.
    const ClassInfo* proc = info;
    const ClassInfo* base = ClassRegistry::classNamed("RtBase");
    const MethodInfo* describe = proc->methodNamed("describe");
    ASSERT_NE(describe, nullptr);
    std::vector<Value> none;
    EXPECT_EQ(describe->invoke(object.get(), none).asString(), u"RtProcedure");
    EXPECT_EQ(base->methodNamed("executeFlexibleClient:::"), nullptr);
    EXPECT_EQ(proc->methodNamed("executeFlexibleClient::"), nullptr) << "arity is part of the name";

    ASSERT_NE(proc->propertyNamed("gxTv_Active"), nullptr);
    EXPECT_EQ(base->propertyNamed("gxTv_Total"), nullptr);
    EXPECT_EQ(proc->properties().size(), 1u);
}

TEST(ClassRegistryTest, BaseCycleEndsInsteadOfSpinning) {
    ClassRegistry::registerClass(ClassDefinition("RtCycleA", "RtCycleB", nullptr));
    ClassRegistry::registerClass(ClassDefinition("RtCycleB", "RtCycleA", nullptr));
    const ClassInfo* a = ClassRegistry::classNamed("RtCycleA");
    EXPECT_FALSE(a->isKindOf("Object"));
    EXPECT_EQ(a->methodNamed("anything"), nullptr);
}

TEST(ClassRegistryTest, ConcurrentRegistrationAndLookup) {
    constexpr int kThreads = 4, kPerThread = 200;
    std::atomic<int> found{0};
    test::onThreads(kThreads, [&found](int t) {
        for (int i = 0; i < kPerThread; ++i) {
            std::string name = "RtDyn_" + std::to_string(t) + "_" + std::to_string(i);
            ClassRegistry::registerClass(ClassDefinition(name, "RtBase", nullptr));
            // Everyone also races to register one shared name.
            const ClassInfo* shared =
                ClassRegistry::registerClass(ClassDefinition("RtShared", "Object", nullptr));
            if (shared == ClassRegistry::classNamed("RtShared") &&
                ClassRegistry::classNamed(name) != nullptr)
                found++;
        }
    });
    EXPECT_EQ(found.load(), kThreads * kPerThread);
    EXPECT_TRUE(ClassRegistry::classNamed("RtDyn_3_199")->isKindOf("RtBase"));
}

}  // namespace
}  // namespace qn
