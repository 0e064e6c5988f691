#include "status/status_update.h"

#include <gtest/gtest.h>

#include "status/listing_failure.h"

namespace vuv {
namespace {

TEST(StatusUpdate, TextsWordForWord) {
  const std::pair<StatusUpdate, std::string> cases[] = {
      {RetrievingTree{}, "Retriving network tree..."},
      {RetrievingDomain{}, "Retriving information about domain... Please wait."},
      {GettingInformation{"ALPHA"}, "Getting information about ALPHA"},
      {GettingInformation{"ALPHA\\S1"}, "Getting information about ALPHA\\S1"},
      {Ready{}, "Ready"},
      {Searching{}, "Searching..."},
      {SearchingIn{"\\\\S1\\Public\\docs"}, "Searching in \\\\S1\\Public\\docs"},
      {SearchFinished{}, "Search finished"},
  };
  for (const auto& [update, text] : cases) EXPECT_EQ(statusText(update), text);
  EXPECT_EQ(discoveryDoneNotice(), "Network tree updated");
  EXPECT_EQ(searchDoneNotice(0), "Search finished. 0 files found.");
  EXPECT_EQ(searchDoneNotice(1234), "Search finished. 1234 files found.");
}

TEST(ListingFailure, ReasonsInWords) {
  const std::pair<Error, std::string> cases[] = {
      {makeError(ErrorCode::AccessDenied, "listing x", EACCES), "access denied"},
      {makeError(ErrorCode::NotFound, "", ENOENT), "not found"},
      {makeError(ErrorCode::Timeout, "", ETIMEDOUT), "timed out"},
      {makeError(ErrorCode::Unreachable, "", ECONNREFUSED), "host unreachable"},
      {makeError(ErrorCode::WorkerCrashed), "worker crashed"},
      {makeError(ErrorCode::ProtocolNotAllowed, "", EPROTONOSUPPORT),
       "protocol not allowed: the server speaks only SMB1 (NT1); allow it with `client min protocol = NT1` "
       "in smb.conf"},
      {makeError(ErrorCode::Other, "", EIO), "Input/output error"},
      {makeError(ErrorCode::Protocol), "unexpected answer"},
  };
  for (const auto& [error, words] : cases) EXPECT_EQ(reason(error), words) << describe(error);
  EXPECT_EQ(failureText({"\\\\S1\\Public\\denied", makeError(ErrorCode::AccessDenied)}),
            "Could not list \\\\S1\\Public\\denied: access denied");
}

}  // namespace
}  // namespace vuv
