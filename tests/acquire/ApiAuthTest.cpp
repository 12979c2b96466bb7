// The digests against their published vectors, and the API login end to
// end: reader -> proxy (API mode) -> fake API over TLS.

#include <gtest/gtest.h>

#include <string>

#include "ApiTestSupport.h"
#include "acquire/ApiAuth.h"
#include "platform/TextCodec.h"

namespace tav::test {
namespace {

std::string Sha256Of(std::string_view data) {
  DigestRecord record;
  EXPECT_TRUE(Sha256Hex(data.data(), data.size(), &record));
  return record.hex;
}

std::string HmacOf(const std::string& message, const std::string& key) {
  DigestRecord record;
  EXPECT_TRUE(HmacSha256Hex(message.c_str(), key.c_str(), &record));
  return record.hex;
}

TEST(Sha256Hex, ReproducesTheFips180Vectors) {
  EXPECT_EQ(Sha256Of("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Sha256Of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(
      Sha256Of(
          "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrs"
          "mnopqrstnopqrstu"),
      "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
  EXPECT_EQ(Sha256Of(std::string(1'000'000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256Hex, FillsTheWordsAndTheTextAndHonoursTheLength) {
  DigestRecord record;
  ASSERT_TRUE(Sha256Hex("abc", 0, &record)) << "length 0: the string length";
  EXPECT_EQ(record.words[0], 0xba7816bfu);
  EXPECT_EQ(record.words[7], 0xf20015adu);
  EXPECT_EQ(std::string(record.hex), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(record.hex[64], '\0');

  const char withNul[] = {'a', 'b', 'c', '\0', 'x'};
  EXPECT_EQ(Sha256Of(std::string_view(withNul, 3)), Sha256Of("abc"));
  EXPECT_NE(Sha256Of(std::string_view(withNul, 5)), Sha256Of("abc"))
      << "an explicit length reaches past a NUL";

  ASSERT_TRUE(Sha256Hex("", 0, &record));
  EXPECT_EQ(std::string(record.hex), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_FALSE(Sha256Hex("abc", 3, nullptr));
  EXPECT_FALSE(HmacSha256Hex("abc", "key", nullptr));
}

TEST(HmacSha256Hex, ReproducesTheRfc4231Vectors) {
  EXPECT_EQ(HmacOf("Hi There", std::string(20, '\x0b')),
            "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");
  EXPECT_EQ(HmacOf("what do ya want for nothing?", "Jefe"),
            "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
  EXPECT_EQ(HmacOf(std::string(50, '\xdd'), std::string(20, '\xaa')),
            "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe");
  std::string key4;
  for (char c = 0x01; c <= 0x19; ++c) key4 += c;
  EXPECT_EQ(HmacOf(std::string(50, '\xcd'), key4),
            "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b");
  // Test case 5 publishes only the first 128 bits.
  EXPECT_EQ(HmacOf("Test With Truncation", std::string(20, '\x0c')).substr(0, 32),
            "a3b6167473100ee06e0c796c2955552b");
}

TEST(HmacSha256Hex, HashesKeysLongerThanTheBlockFirst) {
  const std::string longKey(131, '\xaa');
  EXPECT_EQ(HmacOf("Test Using Larger Than Block-Size Key - Hash Key First", longKey),
            "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
  EXPECT_EQ(HmacOf("This is a test using a larger than block-size key and a larger than block-size data. The "
                   "key needs "
                   "to be hashed before being used by the HMAC algorithm.",
                   longKey),
            "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2");
  // Exactly one block (64 bytes) is used as it is; 65 bytes are hashed.
  EXPECT_EQ(HmacOf("msg", std::string(64, 'k')), ExpectedHmac(std::string(64, 'k'), "msg"));
  EXPECT_EQ(HmacOf("msg", std::string(65, 'k')), ExpectedHmac(std::string(65, 'k'), "msg"));
}

// --- Login, end to end -----------------------------------------------------

class ApiLogin : public ApiEndToEnd {};

TEST_F(ApiLogin, SendsTheSignedBodyAndHeadersToTheSecondaryApiHost) {
  StartProxy();
  Exchange(DatRequest());

  const auto logins = Logins();
  ASSERT_EQ(logins.size(), 1u);
  const ReceivedRequest& login = logins[0];
  EXPECT_EQ(login.method, "POST");
  EXPECT_TRUE(login.tls);
  const std::string ct = std::to_string(kStartTime);
  EXPECT_EQ(login.body, "ID=&PW=&KY=" + std::string(kAppKey) + "&CT=" + ct +
                            "&HM=" + ExpectedHmac(kHmKey, std::string(kAppKey) + ct));
  EXPECT_EQ(login.Header("X-2ch-UA"), "JaneStyle/3.83");
  EXPECT_EQ(login.Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(login.Header("User-Agent"), kAuthAgent);
  EXPECT_EQ(login.Header("Accept"), "*/*");
  ASSERT_FALSE(ConnectTargets().empty());
  for (const auto& target : ConnectTargets()) EXPECT_EQ(target, "api.5ch.net:443");

  EXPECT_EQ(CachedSessionId(), "SID1");
  EXPECT_EQ(CachedSessionTime(), kStartTime);
}

TEST_F(ApiLogin, UsesThePrimaryApiHostWhenThe5chSwitchIsOff) {
  StartProxy([](SettingValues& v) { v.Use5ch = 0; });
  Exchange(DatRequest());
  ASSERT_EQ(Logins().size(), 1u);
  ASSERT_EQ(DatRequests().size(), 1u);
  // The upstream client may carry both over one tunnel; every tunnel goes to
  // the primary API host.
  const auto targets = ConnectTargets();
  ASSERT_FALSE(targets.empty());
  for (const auto& target : targets) EXPECT_EQ(target, "api.2ch.net:443");
}

TEST_F(ApiLogin, SendsTheRoninAccountOnlyAsACompletePair) {
  StartProxy([](SettingValues& v) {
    v.LoginAPI = 1;
    v.RoninID = CDoubleString::FromUtf8("ronin@example.test");
    v.RoninPass = CDoubleString::FromUtf8("p4ss");
    v.SIDTime = 0;
  });
  Exchange(DatRequest());
  ASSERT_EQ(Logins().size(), 1u);
  EXPECT_EQ(FormValue(Logins()[0].body, "ID"), "ronin@example.test");
  EXPECT_EQ(FormValue(Logins()[0].body, "PW"), "p4ss");

  proxy_->Setting().Update([](SettingValues& v) { v.RoninPass.Clear(); });
  Exchange(DatRequest());
  ASSERT_EQ(Logins().size(), 2u);
  EXPECT_TRUE(Logins()[1].body.starts_with("ID=&PW=&KY=")) << Logins()[1].body;

  proxy_->Setting().Update([](SettingValues& v) {
    v.RoninPass = CDoubleString::FromUtf8("p4ss");
    v.LoginAPI = 0;
  });
  Exchange(DatRequest());
  ASSERT_EQ(Logins().size(), 3u);
  EXPECT_TRUE(Logins()[2].body.starts_with("ID=&PW=&KY=")) << "LoginAPI off";
}

TEST_F(ApiLogin, AFixedEmptyTimeValueSignsTheAppKeyAlone) {
  StartProxy([](SettingValues& v) {
    v.ApiProfiles[0].CTMode = 0;
    v.ApiProfiles[0].CT.Clear();
  });
  Exchange(DatRequest());
  ASSERT_EQ(Logins().size(), 1u);
  EXPECT_EQ(Logins()[0].body,
            "ID=&PW=&KY=" + std::string(kAppKey) + "&CT=&HM=" + ExpectedHmac(kHmKey, kAppKey));
}

TEST_F(ApiLogin, AFixedTimeValueIsSentAsItIs) {
  StartProxy([](SettingValues& v) {
    v.ApiProfiles[0].CTMode = 0;
    v.ApiProfiles[0].CT = CDoubleString::FromUtf8("1234567890123456789012345678901");  // 31 characters
  });
  Exchange(DatRequest());
  ASSERT_EQ(Logins().size(), 1u);
  EXPECT_EQ(FormValue(Logins()[0].body, "CT"), "1234567890123456789012345678901");
  EXPECT_EQ(FormValue(Logins()[0].body, "HM"),
            ExpectedHmac(kHmKey, std::string(kAppKey) + "1234567890123456789012345678901"));
}

TEST_F(ApiLogin, ReusesTheSessionForSidTimeMinutesCountedFromTheLogin) {
  StartProxy();  // SIDTime 720: 43,200 seconds
  Exchange(DatRequest());
  ASSERT_EQ(Logins().size(), 1u);

  clock_.Set(kStartTime + 43'199);
  Exchange(DatRequest());
  EXPECT_EQ(Logins().size(), 1u) << "43,199 seconds after the login the session is reused";
  ASSERT_EQ(DatRequests().size(), 2u);
  EXPECT_EQ(FormValue(DatRequests()[1].body, "sid"), "SID1");

  clock_.Set(kStartTime + 43'200);
  Exchange(DatRequest());
  EXPECT_EQ(Logins().size(), 2u) << "at 43,200 seconds a new login happens";
  EXPECT_EQ(FormValue(DatRequests().at(2).body, "sid"), "SID2");
  EXPECT_EQ(CachedSessionTime(), kStartTime + 43'200);
}

TEST_F(ApiLogin, SidTimeZeroLogsInForEveryRequest) {
  StartProxy([](SettingValues& v) { v.SIDTime = 0; });
  for (int i = 0; i < 3; ++i) Exchange(DatRequest());
  EXPECT_EQ(Logins().size(), 3u);
  EXPECT_EQ(FormValue(DatRequests().at(2).body, "sid"), "SID3");
}

TEST_F(ApiLogin, SidTimeMinusOneKeepsTheFirstSessionForEver) {
  StartProxy([](SettingValues& v) { v.SIDTime = -1; });
  Exchange(DatRequest());
  clock_.Set(kStartTime + 10LL * 365 * 24 * 3600);
  Exchange(DatRequest());
  EXPECT_EQ(Logins().size(), 1u);
  EXPECT_EQ(FormValue(DatRequests().at(1).body, "sid"), "SID1");
}

TEST_F(ApiLogin, AnAnswerWithoutSessionIdShowsTheServersTextAndFails) {
  StartProxy();
  QueueLogin(ScriptedResponse::Ok(Sjis("ng (キーが違います)")));
  const std::string answer = Exchange(DatRequest());

  EXPECT_EQ(answer, "") << "nothing is written to the reader";
  EXPECT_TRUE(DatRequests().empty());
  EXPECT_EQ(proxy_->Shell().Messages(), (std::vector<std::u16string>{u"API認証エラー|ng (キーが違います)"}));
  EXPECT_TRUE(LastStatus().starts_with(u"失敗(-1,")) << Utf16ToUtf8(LastStatus());
  EXPECT_EQ(CachedSessionId(), "");
  EXPECT_EQ(CachedSessionTime(), kStartTime) << "a failed attempt still starts a new lifetime window";
}

TEST_F(ApiLogin, AFailedLoginLeavesTheCachedSessionAlone) {
  StartProxy([](SettingValues& v) { v.SIDTime = 1; });
  Exchange(DatRequest());
  ASSERT_EQ(CachedSessionId(), "SID1");

  clock_.Set(kStartTime + 60);
  QueueLogin(ScriptedResponse::Raw("not http at all\r\n\r\n", true));  // no HTTP answer
  EXPECT_EQ(Exchange(DatRequest()), "");
  EXPECT_TRUE(proxy_->Shell().Messages().empty()) << "a network failure shows no message box";
  EXPECT_TRUE(LastStatus().starts_with(u"失敗(-1,")) << Utf16ToUtf8(LastStatus());
  EXPECT_EQ(CachedSessionId(), "SID1");
  EXPECT_EQ(CachedSessionTime(), kStartTime + 60);

  // The failed attempt opened a new window: the old id is used again.
  clock_.Set(kStartTime + 119);
  Exchange(DatRequest());
  EXPECT_EQ(Logins().size(), 2u);
  EXPECT_EQ(FormValue(DatRequests().back().body, "sid"), "SID1");
}

TEST_F(ApiLogin, TheMarkerFollowedByNothingGivesAnEmptySessionId) {
  StartProxy();
  QueueLogin(ScriptedResponse::Ok(kSessionPrefix));
  Exchange(DatRequest());
  ASSERT_EQ(DatRequests().size(), 1u);
  EXPECT_EQ(FormValue(DatRequests()[0].body, "sid"), "");
  EXPECT_EQ(LastStatus(), u"成功");
}

TEST_F(ApiLogin, TheSessionIdIsTakenUntrimmedFromAnywhereInTheBody) {
  StartProxy();
  QueueLogin(ScriptedResponse::Ok("notice\nSESSION-ID=Monazilla/1.00:abc def"));
  Exchange(DatRequest());
  EXPECT_EQ(CachedSessionId(), "abc def");
}

TEST_F(ApiLogin, RefusesASessionIdLongerThan1023Characters) {
  StartProxy();
  QueueLogin(ScriptedResponse::Ok(kSessionPrefix + std::string(1024, 'S')));
  EXPECT_EQ(Exchange(DatRequest()), "");
  EXPECT_TRUE(DatRequests().empty());
  EXPECT_TRUE(LastStatus().starts_with(u"失敗(-1,"));
  EXPECT_EQ(CachedSessionId(), "");

  QueueLogin(ScriptedResponse::Ok(kSessionPrefix + std::string(1023, 'S')));
  Exchange(DatRequest());
  EXPECT_EQ(CachedSessionId(), std::string(1023, 'S'));
}

TEST_F(ApiLogin, RefusesOverLongTextsInsteadOfCuttingThem) {
  StartProxy([](SettingValues& v) {
    v.ApiProfiles[0].CTMode = 0;
    v.ApiProfiles[0].CT = CDoubleString::FromUtf8(std::string(32, '7'));
  });
  EXPECT_EQ(Exchange(DatRequest()), "");
  EXPECT_TRUE(LastStatus().starts_with(u"失敗(-1,")) << "a CT of 32 characters";
  EXPECT_EQ(api_.ConnectionCount(), 0u);

  // An application key that makes the HMAC message and the body too long.
  proxy_->Setting().Update([](SettingValues& v) {
    v.ApiProfiles[0].CT.Clear();
    v.ApiProfiles[0].AppKey = CDoubleString::FromUtf8(std::string(1024, 'k'));
  });
  EXPECT_EQ(Exchange(DatRequest()), "");
  EXPECT_EQ(api_.ConnectionCount(), 0u);

  // A password that makes only the login body too long.
  proxy_->Setting().Update([](SettingValues& v) {
    v.ApiProfiles[0].AppKey = CDoubleString::FromUtf8(kAppKey);
    v.LoginAPI = 1;
    v.RoninID = CDoubleString::FromUtf8("id");
    v.RoninPass = CDoubleString::FromUtf8(std::string(1000, 'p'));
  });
  EXPECT_EQ(Exchange(DatRequest()), "");
  EXPECT_EQ(api_.ConnectionCount(), 0u);

  // An X-2ch-UA value that makes the login's header lines over 1024.
  proxy_->Setting().Update([](SettingValues& v) {
    v.LoginAPI = 0;
    v.ApiProfiles[0].XUserAgent = CDoubleString::FromUtf8(std::string(1000, 'u'));
  });
  EXPECT_EQ(Exchange(DatRequest()), "");
  EXPECT_EQ(api_.ConnectionCount(), 0u);
  EXPECT_EQ(CachedSessionTime(), 0) << "a refused login is no login attempt";
}

}  // namespace
}  // namespace tav::test
