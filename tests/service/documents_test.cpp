// Reading the service's documents: content data, version, identity values.
#include <gtest/gtest.h>

#include "service/content_data.h"
#include "service/device_identity.h"
#include "service/version_check.h"

namespace {
ContentData Read(const std::string& body, bool expectOk = true) {
    ContentData data;
    EXPECT_EQ(ParseContentData(body, data), expectOk) << body;
    EXPECT_EQ(data.succeeded, expectOk) << body;
    return data;
}
} // namespace

TEST(ContentDataDocument, DefaultsForAnEmptyObject) {
    const ContentData d = Read("{}");
    EXPECT_EQ(d.kind, "video");
    EXPECT_EQ(d.address, "");
    EXPECT_EQ(d.embedSource, "");
    EXPECT_EQ(d.watermark, "");
    EXPECT_EQ(d.scriptVariant, 1);
}

TEST(ContentDataDocument, WorkingObjectIsTheNestedObjectOrTheTopLevel) {
    ContentData d = Read(R"({"data":{"type":"pdf","url":"u","youtube_url":"y","script_variant":3},"watermark":"w"})");
    EXPECT_EQ(d.kind, "pdf");
    EXPECT_EQ(d.address, "u");
    EXPECT_EQ(d.embedSource, "y");
    EXPECT_EQ(d.watermark, "w");
    EXPECT_EQ(d.scriptVariant, 3);

    // The watermark is read from the top level only.
    d = Read(R"({"data":{"type":"pdf","watermark":"inner"}})");
    EXPECT_EQ(d.watermark, "");
    // A nested member that is not an object leaves the top level as the working object.
    d = Read(R"({"data":[1],"type":"web","url":"top"})");
    EXPECT_EQ(d.kind, "web");
    EXPECT_EQ(d.address, "top");
    d = Read(R"({"type":"zoom","url":"flat","watermark":"fw"})");
    EXPECT_EQ(d.kind, "zoom");
    EXPECT_EQ(d.watermark, "fw");
}

TEST(ContentDataDocument, NullMeansMissingAndWrongTypesFail) {
    ContentData d = Read(R"({"data":{"type":null,"url":null,"script_variant":null},"watermark":null})");
    EXPECT_EQ(d.kind, "video");
    EXPECT_EQ(d.scriptVariant, 1);

    EXPECT_EQ(Read(R"({"data":{"script_variant":true}})").scriptVariant, 1);
    EXPECT_EQ(Read(R"({"data":{"script_variant":false}})").scriptVariant, 0);
    EXPECT_EQ(Read(R"({"data":{"script_variant":2.9}})").scriptVariant, 2);
    EXPECT_EQ(Read(R"({"data":{"script_variant":-2.9}})").scriptVariant, -2);
    EXPECT_EQ(Read(R"({"data":{"script_variant":4294967298}})").scriptVariant, 2);

    Read(R"({"data":{"script_variant":"2"}})", false);
    Read(R"({"data":{"type":5}})", false);
    Read(R"({"watermark":["w"]})", false);
    Read("not json", false);
    Read("", false);
    Read("[]"); // an array is no object: every field takes its default
}

TEST(VersionDocument, SingleDecimalComparison) {
    auto eval = [](const std::string& body) { return EvaluateVersionDocument(4.9, body); };
    EXPECT_FALSE(eval(R"({"version":4.9})").hasUpdate);
    EXPECT_TRUE(eval(R"({"version":4.95})").hasUpdate);
    EXPECT_FALSE(eval(R"({"version":"4.10.0"})").hasUpdate);
    EXPECT_FALSE(eval(R"({"version":"4.9.1"})").hasUpdate);
    EXPECT_TRUE(eval(R"({"version":5})").hasUpdate);
    EXPECT_FALSE(eval(R"({"version":"abc"})").hasUpdate);
    EXPECT_FALSE(eval(R"({"version":null})").hasUpdate);
    EXPECT_FALSE(eval(R"({"version":"1e999"})").hasUpdate);
    EXPECT_FALSE(eval(R"({"link":"x"})").hasUpdate);
    EXPECT_FALSE(eval("[5]").hasUpdate);
    EXPECT_FALSE(eval("<html>500</html>").hasUpdate);
}

TEST(VersionDocument, RequiredFlagAndLink) {
    auto eval = [](const std::string& body) { return EvaluateVersionDocument(4.9, body); };
    VersionCheckResult r = eval(R"({"version":"5.0","is_required":"1","link":"https://x/\u00e9.exe"})");
    EXPECT_TRUE(r.hasUpdate);
    EXPECT_TRUE(r.isRequired);
    EXPECT_EQ(r.link, u"https://x/\u00e9.exe");
    EXPECT_FALSE(eval(R"({"version":5,"is_required":true})").isRequired);
    EXPECT_TRUE(eval(R"({"version":5,"is_required":1.7})").isRequired);
    EXPECT_FALSE(eval(R"({"version":5,"is_required":"01"})").isRequired);
    EXPECT_FALSE(eval(R"({"version":5,"is_required":2})").isRequired);
    r = eval(R"({"version":6,"link":7})");
    EXPECT_TRUE(r.hasUpdate);
    EXPECT_EQ(r.link, u"");
    // Nothing but the version decides: a required flag without a newer version is ignored.
    EXPECT_FALSE(eval(R"({"version":4,"is_required":"1"})").isRequired);
}

TEST(DeviceIdentity, ComposedFromTheRawSources) {
    WString identity, description;
    ComposeDeviceInfo({u"abc", std::nullopt, std::nullopt}, identity, description);
    EXPECT_EQ(identity, u"YWJj");
    EXPECT_EQ(description, u"Unknown");
    ComposeDeviceInfo({u"", std::nullopt, WString(u"Model X")}, identity, description);
    EXPECT_EQ(identity, u"");
    EXPECT_EQ(description, u"Model X");
    ComposeDeviceInfo({u"\u00e9", WString(u"Vendor"), WString(u"Model X")}, identity, description);
    EXPECT_EQ(identity, u"w6k=");
    EXPECT_EQ(description, u"Vendor Model X");
    ComposeDeviceInfo({u"id", WString(u"Vendor"), std::nullopt}, identity, description);
    EXPECT_EQ(description, u"Vendor");
}

TEST(DeviceIdentity, ComputedOnceAndStable) {
    const WString first = GetDeviceIdentity();
    EXPECT_EQ(GetDeviceIdentity(), first);
    EXPECT_FALSE(GetDeviceDescription().empty());
}
