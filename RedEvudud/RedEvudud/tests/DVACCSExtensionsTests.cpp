#include <gtest/gtest.h>

#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACCSData.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACCSExtensions.h"
#include "RedEvudud/RedEvudud/tests/DVACModelTestSupport.h"

namespace {

using dvac_model_test::keyOrder;
using dvac_model_test::LogLines;
using dvac_model_test::parsedJSON;
using nlohmann::json;

std::shared_ptr<DVACCSExtensions> everyExtension() {
  auto ext = std::make_shared<DVACCSExtensions>();
  ext->metadataExt = std::make_shared<DVACMetadataExtension>();
  ext->metadataExt->setMetadata(ns::Dictionary{{"f", ns::Dictionary{{"prop", int64_t{4}}}}});
  ext->protocolExt = std::make_shared<DVACProtocolExtension>();
  ext->protocolExt->ticketKeys = std::vector<std::string>{"k1"};
  ext->protocolExt->devMake = "LENOVO";
  ext->protocolExt->devModel = "X1";
  ext->userExt = std::make_shared<DVACUserExtension>();
  ext->userExt->localId = "c:alice";
  ext->userExt->locale = "en-US";
  ext->deviceExt = std::make_shared<DVACDeviceExtension>();
  ext->deviceExt->localId = "u:device";
  ext->osExt = std::make_shared<DVACOSExtension>();
  ext->osExt->name = "Debian GNU/Linux";
  ext->osExt->ver = "Version 12";
  ext->appExt = std::make_shared<DVACAppExtension>();
  ext->appExt->appId = "I:com.morvalent.Morvalent";
  ext->appExt->ver = "1.2";
  ext->appExt->name = "Morvalent";
  ext->appExt->locale = "en";
  ext->appExt->userId = "c:alice";
  ext->netExt = std::make_shared<DVACNetExtension>();
  ext->netExt->provider = "Carrier";
  ext->sdkExt = std::make_shared<DVACSDKExtension>();
  ext->sdkExt->libVer = "redevudud.macos-4.4.3";
  ext->locExt = std::make_shared<DVACLocExtension>();
  ext->locExt->tz = "+02:00";
  return ext;
}

TEST(DVACCSExtensionsTest, SerializesEveryPresentExtensionUnderItsKey) {
  const json expected = {{"metadata", {{"f", {{"prop", 4}}}}},
                         {"protocol", {{"ticketKeys", {"k1"}}, {"devMake", "LENOVO"}, {"devModel", "X1"}}},
                         {"user", {{"localId", "c:alice"}, {"locale", "en-US"}}},
                         {"device", {{"localId", "u:device"}}},
                         {"os", {{"name", "Debian GNU/Linux"}, {"ver", "Version 12"}}},
                         {"app",
                          {{"id", "I:com.morvalent.Morvalent"},
                           {"ver", "1.2"},
                           {"name", "Morvalent"},
                           {"locale", "en"},
                           {"userId", "c:alice"}}},
                         {"net", {{"provider", "Carrier"}}},
                         {"sdk", {{"libVer", "redevudud.macos-4.4.3"}}},
                         {"loc", {{"tz", "+02:00"}}}};
  EXPECT_EQ(parsedJSON(everyExtension()->serializeToDictionary()), expected);
  EXPECT_EQ(parsedJSON(DVACCSExtensions().serializeToDictionary()), json::object());
}

TEST(DVACCSExtensionsTest, ExtensionsWithoutFieldsSerialiseToNothingAndAreLeftOut) {
  EXPECT_TRUE(DVACAppExtension().serializeToDictionary().isNull());
  EXPECT_TRUE(DVACUserExtension().serializeToDictionary().isNull());
  EXPECT_TRUE(DVACProtocolExtension().serializeToDictionary().isNull());
  EXPECT_TRUE(DVACNetExtension().serializeToDictionary().isNull());
  EXPECT_TRUE(DVACDeviceExtension().serializeToDictionary().isNull());
  EXPECT_TRUE(DVACLocExtension().serializeToDictionary().isNull());
  EXPECT_TRUE(DVACOSExtension().serializeToDictionary().isNull());
  EXPECT_TRUE(DVACMetadataExtension().serializeToDictionary().isNull());

  auto ext = everyExtension();
  ext->appExt = std::make_shared<DVACAppExtension>();
  ext->locExt = std::make_shared<DVACLocExtension>();
  const auto serialized = parsedJSON(ext->serializeToDictionary());
  EXPECT_FALSE(serialized.contains("app"));
  EXPECT_FALSE(serialized.contains("loc"));
  EXPECT_TRUE(serialized.contains("net"));
}

TEST(DVACCSExtensionsTest, SdkExtensionWritesSeqOnlyWhenNonZero) {
  DVACSDKExtension sdk;
  EXPECT_TRUE(sdk.serializeToDictionary().isNull());
  sdk.seq = 5;
  EXPECT_EQ(parsedJSON(sdk.serializeToDictionary()), json({{"seq", 5}}));
  sdk.seq = 0;
  sdk.installId = ns::UUID::fromString("00000000-0000-4000-8000-00000000abcd");
  EXPECT_EQ(parsedJSON(sdk.serializeToDictionary()), json({{"installId", "00000000-0000-4000-8000-00000000ABCD"}}));
}

TEST(DVACCSExtensionsTest, OsExtensionWithOnlyAVersion) {
  DVACOSExtension os;
  os.ver = "Version 12";
  EXPECT_EQ(parsedJSON(os.serializeToDictionary()), json({{"ver", "Version 12"}}));
}

TEST(DVACCSExtensionsTest, DataPutsBaseTypeAndBaseDataFirst) {
  DVACCSData data;
  EXPECT_TRUE(data.serializeToDictionary().isNull());
  data.setProperties(ns::Dictionary{});
  EXPECT_EQ(*ns::json::write(data.serializeToDictionary()), "{}");

  ns::OrderedDictionary ordered;
  ordered.set("z", 1);
  ordered.set("a", "x");
  ordered.set("baseData", ns::Dictionary{{"k", "v"}});
  ordered.set("baseType", "Custom");
  data.setProperties(ordered);
  auto text = ns::json::write(data.serializeToDictionary());
  ASSERT_TRUE(text);
  EXPECT_EQ(keyOrder(*text), (std::vector<std::string>{"baseType", "baseData", "z", "a"}));

  data.setProperties(ns::Dictionary{{"a", 1}, {"baseData", 2}});
  EXPECT_EQ(keyOrder(*ns::json::write(data.serializeToDictionary())), (std::vector<std::string>{"baseData", "a"}));
}

TEST(DVACCSExtensionsTest, EveryExtensionIsValidAndTheContainerChecksThem) {
  LogLines lines;
  EXPECT_TRUE(everyExtension()->isValid());
  EXPECT_TRUE(DVACCSExtensions().isValid());
  EXPECT_TRUE(DVACCSData().isValid());
  EXPECT_TRUE(DVACSDKExtension().isValid());
  EXPECT_TRUE(lines.lines().empty());
}

TEST(DVACCSExtensionsTest, EqualityIgnoresConstructionOrder) {
  auto a = std::make_shared<DVACCSExtensions>();
  a->netExt = std::make_shared<DVACNetExtension>();
  a->netExt->provider = "p";
  a->userExt = std::make_shared<DVACUserExtension>();
  a->userExt->locale = "en-US";
  auto b = std::make_shared<DVACCSExtensions>();
  b->userExt = std::make_shared<DVACUserExtension>();
  b->userExt->locale = "en-US";
  b->netExt = std::make_shared<DVACNetExtension>();
  b->netExt->provider = "p";
  EXPECT_TRUE(a->isEqual(*b));
  b->netExt->provider = "q";
  EXPECT_FALSE(a->isEqual(*b));
  b->netExt.reset();
  EXPECT_FALSE(a->isEqual(*b));

  EXPECT_TRUE(everyExtension()->isEqual(*everyExtension()));
  auto c = everyExtension();
  c->protocolExt->ticketKeys = std::vector<std::string>{"k1", "k2"};
  EXPECT_FALSE(everyExtension()->isEqual(*c));
  c = everyExtension();
  c->metadataExt->setMetadata(ns::Dictionary{{"f", ns::Dictionary{{"prop", int64_t{6}}}}});
  EXPECT_FALSE(everyExtension()->isEqual(*c));
  c = everyExtension();
  c->sdkExt->installId = ns::UUID::random();
  EXPECT_FALSE(everyExtension()->isEqual(*c));

  // Data compares as dictionaries, whatever the order.
  DVACCSData x;
  x.setProperties(ns::OrderedDictionary{{"a", 1}, {"b", 2}});
  DVACCSData y;
  y.setProperties(ns::OrderedDictionary{{"b", 2}, {"a", 1}});
  EXPECT_TRUE(x.isEqual(y));
  y.setProperties(std::nullopt);
  EXPECT_FALSE(x.isEqual(y));
  EXPECT_TRUE(y.isEqual(DVACCSData()));
  // Different classes never compare equal.
  EXPECT_FALSE(DVACUserExtension().isEqual(DVACDeviceExtension()));
}

TEST(DVACCSExtensionsTest, ContainerAndEveryExtensionRoundTrip) {
  auto ext = everyExtension();
  ext->sdkExt->epoch = "epoch";
  ext->sdkExt->seq = 12;
  ext->sdkExt->installId = ns::UUID::random();
  auto restored = dvac_model_test::roundTrip(ext);
  ASSERT_TRUE(restored);
  EXPECT_TRUE(restored->isEqual(*ext));
  EXPECT_EQ(restored->appExt->appId, "I:com.morvalent.Morvalent");
  EXPECT_EQ(restored->protocolExt->ticketKeys, std::vector<std::string>{"k1"});
  EXPECT_EQ(restored->metadataExt->metadata(), ext->metadataExt->metadata());
  EXPECT_EQ(restored->sdkExt->installId, ext->sdkExt->installId);

  auto data = std::make_shared<DVACCSData>();
  data->setProperties(ns::OrderedDictionary{{"baseType", "T"}, {"n", int64_t{-7}}, {"d", -1.5}});
  auto restoredData = dvac_model_test::roundTrip(data);
  ASSERT_TRUE(restoredData);
  EXPECT_TRUE(restoredData->isEqual(*data));
  EXPECT_EQ(restoredData->properties()->find("n")->asInt64(), -7);

  auto noData = dvac_model_test::roundTrip(std::make_shared<DVACCSData>());
  ASSERT_TRUE(noData);
  EXPECT_FALSE(noData->properties());

  auto noMetadata = dvac_model_test::roundTrip(std::make_shared<DVACMetadataExtension>());
  ASSERT_TRUE(noMetadata);
  EXPECT_FALSE(noMetadata->metadata());

  auto emptyContainer = dvac_model_test::roundTrip(std::make_shared<DVACCSExtensions>());
  ASSERT_TRUE(emptyContainer);
  EXPECT_TRUE(emptyContainer->isEqual(DVACCSExtensions()));
}

}  // namespace
