// The crash and error models: their JSON, validity, equality and keyed
// archiving, also under the class names of earlier releases.

#include <gtest/gtest.h>

#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "RedEvududCrashes/RedEvududCrashes/DVACCrashes.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/Model/DVACAppleErrorLog.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/Model/DVACHandledErrorLog.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/Model/DVACWrapperException.h"
#include "RedEvududCrashes/RedEvududCrashes/Model/DVACErrorAttachmentLog.h"
#include "RedEvududCrashes/RedEvududCrashes/Model/DVACErrorReport.h"
#include "RedEvududCrashes/RedEvududCrashes/Model/DVACWrapperExceptionModel.h"
#include "RedEvududCrashes/RedEvududCrashes/tests/DVACCrashesTestSupport.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/Json.h"

namespace {

using dvac_crashes_test::LogRecorder;
using dvac_crashes_test::roundTrip;
using dvac_crashes_test::testDevice;

std::shared_ptr<DVACStackFrame> frame(const std::string& address, std::optional<std::string> code = std::nullopt) {
  auto f = std::make_shared<DVACStackFrame>();
  f->address = address;
  f->code = std::move(code);
  return f;
}

std::shared_ptr<DVACAppleErrorLog> completeCrashLog() {
  auto log = std::make_shared<DVACAppleErrorLog>();
  log->setTimestamp(ns::Date(1700000000.999));
  log->setDevice(testDevice());
  log->setSid("session");
  log->errorId = "4A2B6C1E-0000-4000-8000-000000000001";
  log->processId = 4242;
  log->processName = "Example";
  log->parentProcessId = 1;
  log->parentProcessName = "launchd";
  log->errorThreadId = 0;
  log->fatal = true;
  log->appLaunchTimestamp = ns::Date(1699999000);
  log->primaryArchitectureId = 0x100000C;
  log->architectureVariantId = 0;
  log->applicationPath = "/Applications/Example.app/Contents/MacOS/Example";
  log->osExceptionType = "SIGSEGV";
  log->osExceptionCode = "SEGV_MAPERR";
  log->osExceptionAddress = "0x10";
  log->exceptionType = "NSRangeException";
  log->exceptionReason = "index 3 beyond bounds";
  auto thread = std::make_shared<DVACThread>();
  thread->threadId = 0;
  thread->frames->push_back(frame("0x0000000100004010", "0x100000000 + 16400"));
  auto exception = std::make_shared<DVACExceptionModel>();
  exception->type = "NSRangeException";
  exception->frames = DVACStackFrames{frame("0x0000000100004000")};
  thread->exception = exception;
  log->threads = std::vector<std::shared_ptr<DVACThread>>{thread};
  auto binary = std::make_shared<DVACBinary>();
  binary->binaryId = "000102030405060708090a0b0c0d0eff";
  binary->startAddress = "0x0000000100000000";
  binary->endAddress = "0x0000000100007fff";
  binary->name = "Example";
  binary->path = "/Applications/Example.app/Contents/MacOS/Example";
  binary->primaryArchitectureId = 0x100000C;
  binary->architectureVariantId = 0;
  log->binaries = std::vector<std::shared_ptr<DVACBinary>>{binary};
  log->registers = std::map<std::string, std::string>{{"x0", "0x0000000000000001"}, {"pc", "0x0000000100004010"}};
  log->setProperties(DVACPropertiesDictionary{{"k", "v"}});
  return log;
}

TEST(DVACAppleErrorLog, SerializesEveryFieldUnderItsKey) {
  auto log = completeCrashLog();
  ASSERT_TRUE(log->isValid());
  auto json = ns::json::parse(*log->serializeLogWithPrettyPrinting(false));
  ASSERT_TRUE(json);
  EXPECT_EQ(ns::Value("appleError"), *json->find("type"));
  EXPECT_EQ(ns::Value("4A2B6C1E-0000-4000-8000-000000000001"), *json->find("id"));
  EXPECT_EQ(ns::Value(4242), *json->find("processId"));
  EXPECT_EQ(ns::Value(true), *json->find("fatal"));
  EXPECT_EQ(ns::Value("2023-11-14T21:56:40.000Z"), *json->find("appLaunchTimestamp"));
  EXPECT_EQ(ns::Value(16777228), *json->find("primaryArchitectureId"));
  EXPECT_EQ(ns::Value("0x10"), *json->find("osExceptionAddress"));
  EXPECT_EQ(ns::Value("NSRangeException"), *json->find("exceptionType"));
  EXPECT_EQ(ns::Value("0x0000000000000001"), *json->find("registers")->find("x0"));
  const auto* thread = json->find("threads")->at(0);
  EXPECT_EQ(ns::Value(0), *thread->find("id"));
  EXPECT_EQ(ns::Value("0x100000000 + 16400"), *thread->find("frames")->at(0)->find("code"));
  EXPECT_EQ(ns::Value("NSRangeException"), *thread->find("exception")->find("type"));
  EXPECT_EQ(ns::Value("Example"), *json->find("binaries")->at(0)->find("name"));
  EXPECT_EQ(ns::Value("v"), *json->find("properties")->find("k"));
  EXPECT_EQ(nullptr, json->find("isKnownEncodingType"));
  EXPECT_EQ(nullptr, json->find("errorThreadName"));
  EXPECT_EQ(nullptr, json->find("architecture"));
}

TEST(DVACAppleErrorLog, FatalIsAlwaysWrittenAndEmptyThreadsStayAnArray) {
  auto log = std::make_shared<DVACAppleErrorLog>();
  auto dict = log->serializeToDictionary();
  EXPECT_EQ(ns::Value(false), *dict.find("fatal"));
  EXPECT_EQ(nullptr, dict.find("threads"));
  log->threads = std::vector<std::shared_ptr<DVACThread>>{};
  EXPECT_EQ(ns::Value(ns::Array{}), *log->serializeToDictionary().find("threads"));
  log->setProperties(DVACPropertiesDictionary{});
  EXPECT_EQ(nullptr, log->serializeToDictionary().find("properties"));
}

TEST(DVACAppleErrorLog, ValidityNamesTheFirstMissingField) {
  LogRecorder recorder;
  auto log = completeCrashLog();
  log->processName.reset();
  EXPECT_FALSE(log->isValid());
  EXPECT_TRUE(recorder.contains("DVACAppleErrorLog: \"processName\" is not valid.", DVACLogLevelVerbose));

  const std::vector<std::pair<std::function<void(DVACAppleErrorLog&)>, std::string>> cases = {
      {[](DVACAppleErrorLog& l) { l.errorId.reset(); }, "errorId"},
      {[](DVACAppleErrorLog& l) { l.processId.reset(); }, "processId"},
      {[](DVACAppleErrorLog& l) { l.primaryArchitectureId.reset(); }, "primaryArchitectureId"},
      {[](DVACAppleErrorLog& l) { l.applicationPath.reset(); }, "applicationPath"},
      {[](DVACAppleErrorLog& l) { l.osExceptionType.reset(); }, "osExceptionType"},
      {[](DVACAppleErrorLog& l) { l.osExceptionCode.reset(); }, "osExceptionCode"},
      {[](DVACAppleErrorLog& l) { l.osExceptionAddress.reset(); }, "osExceptionAddress"},
  };
  for (const auto& [change, field] : cases) {
    auto broken = completeCrashLog();
    change(*broken);
    recorder.clear();
    EXPECT_FALSE(broken->isValid()) << field;
    EXPECT_TRUE(recorder.contains("\"" + field + "\" is not valid.")) << field;
  }
  // Presence is all that counts.
  auto empty = completeCrashLog();
  empty->applicationPath = "";
  empty->threads.reset();
  EXPECT_TRUE(empty->isValid());
}

TEST(DVACAppleErrorLog, ArchivingKeepsEveryFieldButTheEncodingFlag) {
  auto log = completeCrashLog();
  log->isKnownEncodingType = true;
  auto decoded = roundTrip(log);
  ASSERT_TRUE(decoded);
  EXPECT_FALSE(decoded->isKnownEncodingType);
  EXPECT_TRUE(decoded->isEqual(*log));
  EXPECT_EQ(log->serializeLogWithPrettyPrinting(false), decoded->serializeLogWithPrettyPrinting(false));
  // The encoding flag takes no part in equality.
  log->isKnownEncodingType = false;
  EXPECT_TRUE(decoded->isEqual(*log));
  decoded->registers->at("x0") = "0x2";
  EXPECT_FALSE(decoded->isEqual(*log));
}

// Records written by earlier releases, under their class names of then.
class OldThread : public DVACThread {
 public:
  std::string className() const override { return "DVThread"; }
  std::vector<std::string> classHierarchy() const override { return {"DVThread", "NSObject"}; }
};
class OldAppleErrorLog : public DVACAppleErrorLog {
 public:
  std::string className() const override { return "DVAppleErrorLog"; }
  std::vector<std::string> classHierarchy() const override { return {"DVAppleErrorLog", "NSObject"}; }
};
class OldException : public DVACExceptionModel {
 public:
  std::string className() const override { return "DVException"; }
  std::vector<std::string> classHierarchy() const override { return {"DVException", "NSObject"}; }
};

TEST(DVACAppleErrorLog, ArchivesOfEarlierClassNamesDecode) {
  dvac_crashes_test::CrashesEnvironment environment;
  DVACCrashes::sharedInstance();  // registers the migrations
  auto old = std::make_shared<OldAppleErrorLog>();
  auto reference = completeCrashLog();
  old->setTimestamp(reference->timestamp());
  old->setDevice(reference->device());
  old->errorId = reference->errorId;
  old->processId = 1;
  auto thread = std::make_shared<OldThread>();
  thread->threadId = 5;
  old->threads = std::vector<std::shared_ptr<DVACThread>>{thread};
  auto exception = std::make_shared<OldException>();
  exception->type = "Wrapped";
  old->exception = exception;

  auto value = DVACUtility::unarchiveKeyedData(DVACUtility::archiveKeyedData(ns::Value(old)));
  ASSERT_TRUE(value);
  auto decoded = value->objectAs<DVACAppleErrorLog>();
  ASSERT_TRUE(decoded);
  EXPECT_EQ("DVACAppleErrorLog", decoded->className());
  EXPECT_EQ("DVACThread", (*decoded->threads)[0]->className());
  EXPECT_EQ(5, *(*decoded->threads)[0]->threadId);
  EXPECT_EQ("DVACWrapperExceptionModel", decoded->exception->className());
  EXPECT_EQ("Wrapped", *decoded->exception->type);
}

TEST(DVACHandledErrorLog, NeedsAnIdAndAnExceptionButNotItsFrames) {
  LogRecorder recorder;
  auto log = std::make_shared<DVACHandledErrorLog>();
  log->setTimestamp(ns::Date(1700000000));
  log->setDevice(testDevice());
  log->errorId = "id-1";
  EXPECT_FALSE(log->isValid());
  EXPECT_TRUE(recorder.contains("DVACHandledErrorLog: \"exception\" is not valid."));
  log->exception = std::make_shared<DVACExceptionModel>();
  log->exception->type = "Domain";
  EXPECT_TRUE(log->isValid());
  auto json = log->serializeToDictionary();
  EXPECT_EQ(ns::Value("handledError"), *json.find("type"));
  EXPECT_EQ(ns::Value("id-1"), *json.find("id"));
  EXPECT_EQ(ns::Value("Domain"), *json.find("exception")->find("type"));
  auto decoded = roundTrip(log);
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(decoded->isEqual(*log));
}

TEST(DVACExceptionModel, ParsesTheColumnsOfSymbolLines) {
  struct Case {
    std::string line;
    std::optional<std::string> fileName, address, className, methodName;
  };
  const std::vector<Case> cases = {
      {"3   Foundation                          0x00007ff80a1c2d3e -[NSArray objectAtIndex:] + 42", "Foundation",
       "0x00007ff80a1c2d3e", "NSArray", "objectAtIndex:"},
      {"4   libobjc.A.dylib                     0x00007ff80a1c2d3e objc_exception_throw + 48", "libobjc.A.dylib",
       "0x00007ff80a1c2d3e", std::nullopt, "objc_exception_throw"},
      {"2   libc.so.6                           0x00007f435296524a __libc_start_main + 133", "libc.so.6",
       "0x00007f435296524a", std::nullopt, "__libc_start_main"},
      // The program's own frames, whose symbols the loader doesn't know.
      {"0   redevudud_crashes_crasher           0x0000563e230aa8fb 0x563e2305e000 + 313595",
       "redevudud_crashes_crasher", "0x0000563e230aa8fb", std::nullopt, std::nullopt},
      {"1   My App Helper                       0x0000000100004010 std::vector<int, std::allocator<int> >::at("
       "unsigned long) + 16",
       "My App Helper", "0x0000000100004010", "std::vector<int, std::allocator<int> >", "at(unsigned long)"},
      {"5   libexample.so                       0x0000000100004010 (anonymous namespace)::run(ns::Value const&) + 8",
       "libexample.so", "0x0000000100004010", "(anonymous namespace)", "run(ns::Value const&)"},
      {"6   ???                                 0x0000000000001234 0x0 + 0", std::nullopt, "0x0000000000001234",
       std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    auto frames = DVACExceptionModel::loadStackTrace({c.line});
    ASSERT_EQ(1u, frames.size()) << c.line;
    EXPECT_EQ(c.fileName, frames[0]->fileName) << c.line;
    EXPECT_EQ(c.address, frames[0]->address) << c.line;
    EXPECT_EQ(c.className, frames[0]->className_) << c.line;
    EXPECT_EQ(c.methodName, frames[0]->methodName) << c.line;
    EXPECT_FALSE(frames[0]->code);
  }
  // Lines of another form give no frame.
  EXPECT_TRUE(DVACExceptionModel::loadStackTrace({"a b c d e f", "3 libfoo.so main + 1", ""}).empty());
  EXPECT_TRUE(DVACExceptionModel::loadStackTrace({}).empty());
  // What this process writes reads back: every frame with its address and image.
  auto own = DVACExceptionModel::initWithType("T", std::nullopt, std::nullopt);
  ASSERT_FALSE(own->frames->empty());
  for (const auto& frame : *own->frames) {
    EXPECT_EQ(18u, frame->address->size()) << *frame->address;
    EXPECT_TRUE(frame->fileName) << *frame->address;
  }
  EXPECT_EQ("redevudud_crashes_tests", *own->frames->front()->fileName);
}

TEST(DVACExceptionModel, FromAnErrorAndFromAnExceptionLikeObject) {
  auto bare = DVACExceptionModel::initWithError(ns::Error("com.example.domain", 7));
  EXPECT_EQ("com.example.domain", *bare->type);
  EXPECT_EQ(nullptr, bare->serializeToDictionary().find("message"));
  EXPECT_TRUE(bare->stackTrace);
  EXPECT_TRUE(bare->frames);

  auto described = DVACExceptionModel::initWithError(ns::Error::withDescription("d", 1, "went wrong"));
  ASSERT_TRUE(described->message);
  EXPECT_NE(std::string::npos, described->message->find("went wrong"));

  auto nothing = DVACExceptionModel::initWithException(DVACExceptionDescription{});
  EXPECT_FALSE(nothing->type);
  EXPECT_FALSE(nothing->stackTrace);
  EXPECT_TRUE(nothing->frames);
  EXPECT_EQ(nullptr, nothing->serializeToDictionary().find("stackTrace"));

  auto given = DVACExceptionModel::initWithType("T", "m", std::vector<std::string>{"0 a 0x1 f + 2"});
  EXPECT_EQ(1u, given->frames->size());
  EXPECT_EQ("(\n    \"0 a 0x1 f + 2\"\n)", *given->stackTrace);
}

TEST(DVACExceptionModel, ValidityEqualityAndArchiving) {
  LogRecorder recorder;
  auto model = std::make_shared<DVACExceptionModel>();
  EXPECT_FALSE(model->isValid());
  EXPECT_TRUE(recorder.contains("DVACExceptionModel: \"type\" is not valid."));
  model->type = "T";
  EXPECT_FALSE(model->isValid());
  EXPECT_TRUE(recorder.contains("DVACExceptionModel: \"frames\" is not valid."));
  model->frames = DVACStackFrames{frame("0x1")};
  model->message = "m";
  model->stackTrace = "s";
  EXPECT_TRUE(model->isValid());
  auto decoded = roundTrip(model);
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(decoded->isEqual(*model));
  decoded->frames->push_back(frame("0x2"));
  EXPECT_FALSE(decoded->isEqual(*model));
}

TEST(DVACThread, StartsWithEmptyFramesAndIsInvalidUntilOneIsAdded) {
  LogRecorder recorder;
  DVACThread thread;
  thread.threadId = 3;
  EXPECT_EQ(ns::Value(ns::Array{}), *thread.serializeToDictionary().find("frames"));
  EXPECT_FALSE(thread.isValid());
  EXPECT_TRUE(recorder.contains("DVACThread: \"frames\" is not valid."));
  thread.frames->push_back(frame("0x1"));
  EXPECT_TRUE(thread.isValid());
  // A decoded thread gets only what was archived.
  auto bare = std::make_shared<DVACThread>();
  bare->frames.reset();
  auto decoded = roundTrip(bare);
  ASSERT_TRUE(decoded);
  EXPECT_FALSE(decoded->frames);
}

TEST(DVACBinary, NeedsAPathAndSerializesItsFields) {
  LogRecorder recorder;
  auto binary = std::make_shared<DVACBinary>();
  binary->binaryId = "id";
  binary->startAddress = "0x1";
  binary->endAddress = "0x2";
  binary->name = "n";
  EXPECT_FALSE(binary->isValid());
  EXPECT_TRUE(recorder.contains("DVACBinary: \"path\" is not valid."));
  binary->path = "";
  EXPECT_TRUE(binary->isValid());
  binary->primaryArchitectureId = 7;
  auto dict = binary->serializeToDictionary();
  EXPECT_EQ(ns::Value("id"), *dict.find("id"));
  EXPECT_EQ(ns::Value(7), *dict.find("primaryArchitectureId"));
  auto decoded = roundTrip(binary);
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(decoded->isEqual(*binary));
}

TEST(DVACStackFrame, OnlyTheAddressGivesOneKey) {
  auto f = frame("0x1");
  auto dict = f->serializeToDictionary();
  EXPECT_EQ(1u, dict.count());
  EXPECT_EQ(ns::Value("0x1"), *dict.find("address"));
  f->lineNumber = 12;
  auto decoded = roundTrip(f);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(12, *decoded->lineNumber);
  EXPECT_TRUE(decoded->isEqual(*f));
}

TEST(DVACErrorAttachmentLog, TextAttachmentsAreUtf8PlainTextInBase64) {
  LogRecorder recorder;
  auto attachment = DVACErrorAttachmentLog::attachmentWithText(std::string("héllo"), std::string("note.txt"));
  attachment->setTimestamp(ns::Date(1700000000));
  attachment->setDevice(testDevice());
  EXPECT_EQ("text/plain", *attachment->contentType);
  EXPECT_EQ(ns::Data({'h', 0xC3, 0xA9, 'l', 'l', 'o'}), *attachment->data);
  EXPECT_EQ(36u, attachment->attachmentId->size());
  EXPECT_FALSE(attachment->isValid());
  EXPECT_TRUE(recorder.contains("DVACErrorAttachmentLog: \"errorId\" is not valid."));
  attachment->errorId = "E";
  EXPECT_TRUE(attachment->isValid());
  auto dict = attachment->serializeToDictionary();
  EXPECT_EQ(ns::Value(ns::base64Encode(*attachment->data)), *dict.find("data"));
  EXPECT_EQ(ns::Value("note.txt"), *dict.find("fileName"));
  EXPECT_EQ(ns::Value("errorAttachment"), *dict.find("type"));

  auto decoded = roundTrip(attachment);
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(decoded->isEqual(*attachment));
  EXPECT_EQ(attachment->attachmentId, decoded->attachmentId);
}

TEST(DVACErrorAttachmentLog, MissingAndEmptyData) {
  LogRecorder recorder;
  auto missing = DVACErrorAttachmentLog::attachmentWithText(std::nullopt, std::nullopt);
  missing->setTimestamp(ns::Date(1));
  missing->setDevice(testDevice());
  missing->errorId = "E";
  EXPECT_FALSE(missing->data);
  EXPECT_FALSE(missing->isValid());
  EXPECT_TRUE(recorder.contains("\"data\" is not valid."));
  auto empty = DVACErrorAttachmentLog::attachmentWithBinary(ns::Data{}, std::nullopt, std::string("a/b"));
  empty->setTimestamp(ns::Date(1));
  empty->setDevice(testDevice());
  empty->errorId = "E";
  EXPECT_TRUE(empty->isValid());
  EXPECT_EQ(ns::Value(""), *empty->serializeToDictionary().find("data"));
  EXPECT_FALSE(DVACCrashes::validatePropertiesForAttachment(*empty));
  // Separately built attachments are never equal, nor equal to another class.
  auto other = DVACErrorAttachmentLog::attachmentWithBinary(ns::Data{}, std::nullopt, std::string("a/b"));
  EXPECT_FALSE(other->isEqual(*empty));
  DVACHandledErrorLog handled;
  EXPECT_FALSE(empty->isEqual(handled));
}

TEST(DVACErrorReport, DictionaryAndAppKill) {
  DVACErrorReport crash("E", std::string("K"), std::string("sigkill"), std::nullopt, std::nullopt, ns::Date(1),
                        ns::Date(2), std::string("ARM-64"), std::string("arm64"), std::string("/a"),
                        std::vector<std::shared_ptr<DVACThread>>{}, std::nullopt, testDevice(), 42);
  EXPECT_TRUE(crash.isAppKill());
  auto dict = crash.serializeToDictionary();
  EXPECT_EQ(ns::Value("42"), *dict.find("appProcessIdentifier"));
  EXPECT_TRUE(dict.find("appStartTime")->isDate());
  EXPECT_TRUE(dict.find("device")->isObject());
  EXPECT_EQ(nullptr, dict.find("binaries"));

  DVACErrorReport handled("H", std::nullopt, std::nullopt, std::nullopt, std::nullopt, ns::Date(1), ns::Date(2),
                          std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, testDevice(), 0);
  EXPECT_FALSE(handled.isAppKill());
  auto handledDict = handled.serializeToDictionary();
  for (const char* key : {"signal", "threads", "binaries", "appProcessIdentifier"}) {
    EXPECT_EQ(nullptr, handledDict.find(key)) << key;
  }
  EXPECT_NE(std::string::npos, handled.description().find("incidentIdentifier"));
}

TEST(DVACWrapperExceptionModel, AddsWrapperNameAndInnerExceptions) {
  auto inner = std::make_shared<DVACWrapperExceptionModel>();
  inner->type = "Inner";
  auto model = std::make_shared<DVACWrapperExceptionModel>();
  model->type = "Outer";
  model->frames = DVACStackFrames{frame("0x1")};
  model->wrapperSdkName = "wrapper";
  model->innerExceptions = std::vector<std::shared_ptr<DVACWrapperExceptionModel>>{inner};
  auto dict = model->serializeToDictionary();
  EXPECT_EQ(ns::Value("wrapper"), *dict.find("wrapperSdkName"));
  EXPECT_EQ(ns::Value("Inner"), *dict.find("innerExceptions")->at(0)->find("type"));
  auto decoded = roundTrip(model);
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(decoded->isEqual(*model));
  DVACExceptionModel plain;
  plain.type = "Outer";
  plain.frames = model->frames;
  EXPECT_FALSE(model->isEqual(plain));

  auto wrapper = std::make_shared<DVACWrapperException>();
  wrapper->modelException = model;
  wrapper->exceptionData = ns::Data{1, 2};
  wrapper->processId = 99;
  auto decodedWrapper = roundTrip(wrapper);
  ASSERT_TRUE(decodedWrapper);
  EXPECT_TRUE(decodedWrapper->isEqual(*wrapper));
  EXPECT_TRUE(std::dynamic_pointer_cast<DVACWrapperExceptionModel>(decodedWrapper->modelException));
}

}  // namespace
