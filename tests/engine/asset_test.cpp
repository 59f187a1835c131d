#include "sciter/om.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "engine_stand_in/global_object.h"
#include "sciter/om_passport.h"
#include "sciter/sapi.h"

namespace {

using engine_stand_in::GlobalObject;
using engine_stand_in::LiveValueCount;
using engine_stand_in::Value;

// A script object with one method or property of each kind the thunks handle.
class Probe : public sciter::om::asset<Probe> {
public:
    explicit Probe(bool& destroyed) : destroyed_(destroyed) {}
    ~Probe() override { destroyed_ = true; }

    std::wstring Echo(const std::wstring& first, const std::wstring& second) {
        return first + L"|" + second;
    }
    bool IsFunction(sciter::value candidate) { return candidate.type() == T_FUNCTION; }
    void SetLanguage(const std::wstring&) { throw std::runtime_error("no language"); }
    void Break() { throw std::logic_error("not a runtime error"); }
    std::wstring GetName() const { return L"probe \U0001F600"; }

    som_passport_t* asset_get_passport() const override {
        using sciter::om::method_entry;
        using sciter::om::method_thunk;
        static const sciter::om::passport_tables tables(
            std::to_array<method_entry>({
                {"Echo", 2, &method_thunk<Probe, &Probe::Echo>},
                {"IsFunction", 1, &method_thunk<Probe, &Probe::IsFunction>},
                {"SetLanguage", 1, &method_thunk<Probe, &Probe::SetLanguage>},
                {"Break", 0, &method_thunk<Probe, &Probe::Break>},
            }),
            std::to_array<sciter::om::property_entry>({
                {"Name", &sciter::om::property_thunk<Probe, &Probe::GetName>, nullptr},
            }));
        static som_passport_t passport{};
        return tables.fill(passport, "Probe");
    }

private:
    bool& destroyed_;
};

// An asset without a passport of its own.
class Plain : public sciter::om::asset<Plain> {};

TEST(Asset, CountsReferencesAndDestroysItselfAtZero) {
    bool destroyed = false;
    auto* probe = new Probe(destroyed);  // held by its count from here on
    EXPECT_EQ(probe->reference_count(), 0);
    EXPECT_EQ(probe->asset_add_ref(), 1);
    EXPECT_EQ(probe->isa->asset_add_ref(probe), 2);  // through the class table
    EXPECT_EQ(probe->isa->asset_release(probe), 1);
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(probe->asset_release(), 0);
    EXPECT_TRUE(destroyed);
}

TEST(Asset, AnswersOnlyTheAssetInterface) {
    bool destroyed = false;
    auto* probe = new Probe(destroyed);
    probe->asset_add_ref();

    void* out = nullptr;
    EXPECT_FALSE(probe->asset_get_interface("some.other.interface", &out));
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(probe->reference_count(), 1);

    EXPECT_TRUE(probe->isa->asset_get_interface(probe, kAssetInterfaceName, &out));
    EXPECT_EQ(
        out, static_cast<void*>(static_cast<sciter::om::iasset<sciter::om::asset<Probe>>*>(probe)));
    EXPECT_EQ(probe->reference_count(), 2);

    EXPECT_TRUE(probe->asset_get_interface(kAssetInterfaceName, nullptr));
    EXPECT_EQ(probe->reference_count(), 2);

    probe->asset_release();
    probe->asset_release();
    EXPECT_TRUE(destroyed);
}

TEST(Asset, GivesTheSamePassportEveryTime) {
    bool destroyed = false;
    auto* probe = new Probe(destroyed);
    probe->asset_add_ref();
    som_passport_t* first = probe->isa->asset_get_passport(probe);
    som_passport_t* second = probe->asset_get_passport();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first->flags, 0u);
    EXPECT_EQ(first->name, SAPI()->SciterAtomValue("Probe"));
    ASSERT_EQ(first->n_methods, 4u);
    EXPECT_EQ(first->methods[0].name, SAPI()->SciterAtomValue("Echo"));
    EXPECT_EQ(first->methods[0].params, 2u);
    EXPECT_EQ(first->methods[0].reserved, nullptr);
    ASSERT_EQ(first->n_properties, 1u);
    EXPECT_EQ(first->properties[0].name, SAPI()->SciterAtomValue("Name"));
    EXPECT_EQ(first->properties[0].setter, nullptr);
    EXPECT_EQ(first->item_getter, nullptr);
    EXPECT_EQ(first->prop_getter, nullptr);
    probe->asset_release();

    auto* plain = new Plain();
    plain->asset_add_ref();
    EXPECT_EQ(plain->isa->asset_get_passport(plain), nullptr);
    plain->asset_release();
}

// A Probe registered as a global object, found and called as the script does.
class GlobalProbe : public ::testing::Test {
protected:
    GlobalProbe() : probe_(new Probe(destroyed_)), live_(LiveValueCount()) {
        EXPECT_TRUE(SAPI()->SciterSetGlobalAsset(probe_));
        EXPECT_EQ(probe_->reference_count(), 1);
    }
    ~GlobalProbe() override {
        if (!destroyed_) {
            SAPI()->SciterReleaseGlobalAsset(probe_);
        }
        EXPECT_TRUE(destroyed_);
        EXPECT_EQ(LiveValueCount(), live_);
    }

    GlobalObject Object() {
        auto object = GlobalObject::Find("Probe");
        EXPECT_TRUE(object.has_value());
        return std::move(*object);
    }

    bool destroyed_ = false;
    Probe* probe_;
    std::size_t live_;
};

TEST_F(GlobalProbe, IsHeldByTheEngineUntilReleased) {
    {
        const GlobalObject object = Object();
        EXPECT_EQ(probe_->reference_count(), 2);
    }
    EXPECT_EQ(probe_->reference_count(), 1);
    EXPECT_TRUE(SAPI()->SciterReleaseGlobalAsset(probe_));
    EXPECT_TRUE(destroyed_);
    EXPECT_FALSE(GlobalObject::Find("Probe").has_value());
    EXPECT_FALSE(SAPI()->SciterReleaseGlobalAsset(probe_));
}

TEST_F(GlobalProbe, ThunksConvertArgumentsAndResults) {
    const GlobalObject object = Object();
    struct Case {
        const char* name;
        std::vector<Value> arguments;
        std::u16string text;
    };
    const Case cases[] = {
        {"strings", {Value::String(u"a"), Value::String(u"\xD83D\xDE00")}, u"a|\xD83D\xDE00"},
        {"other values as text", {Value::Integer(5), Value::Float(0.5)}, u"5|0.5"},
        {"missing arguments read as undefined", {Value::String(u"only")}, u"only|undefined"},
        {"extra arguments ignored", {Value(), Value::Null(), Value::Integer(1)}, u"undefined|null"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Value result = object.Call("Echo", c.arguments);
        EXPECT_EQ(result.type(), T_STRING);
        EXPECT_EQ(result.units(), UT_STRING_PLAIN);
        EXPECT_EQ(result.Text(), c.text);
    }

    const Value function = Value::Function([](const auto&) { return Value(); });
    const Value yes = object.Call("IsFunction", {function});
    EXPECT_EQ(yes.type(), T_BOOL);
    EXPECT_EQ(yes.Text(), u"true");
    EXPECT_EQ(object.Call("IsFunction", {Value::Integer(5)}).Text(), u"false");

    const Value name = object.Get("Name");
    EXPECT_EQ(name.type(), T_STRING);
    EXPECT_EQ(name.Text(), u"probe \xD83D\xDE00");
}

TEST_F(GlobalProbe, RuntimeErrorsBecomeErrorValuesOthersPass) {
    const GlobalObject object = Object();
    const Value error = object.Call("SetLanguage", {Value::String(u"Klingon")});
    EXPECT_EQ(error.type(), T_STRING);
    EXPECT_EQ(error.units(), UT_STRING_ERROR);
    EXPECT_EQ(error.Text(), u"no language");

    EXPECT_THROW(object.Call("Break", {}), std::logic_error);
    EXPECT_EQ(object.Call("Echo", {}).Text(), u"undefined|undefined");  // still usable
}

TEST(GlobalAsset, IsRefusedWithoutAPassport) {
    auto* plain = new Plain();
    plain->asset_add_ref();
    EXPECT_FALSE(SAPI()->SciterSetGlobalAsset(plain));
    EXPECT_EQ(plain->reference_count(), 1);
    plain->asset_release();
}

}  // namespace
