// Where enumeration writes its diagnostic lines: the lines a user or a log sees on the
// program's standard output and standard error.
//
// Thread safety: write calls come from several discovery workers at once; implementations
// serialise them so that lines never interleave.
#pragma once

#include <iosfwd>
#include <mutex>
#include <string_view>

namespace vuv {

class DiagnosticSink {
 public:
  virtual ~DiagnosticSink() = default;
  virtual void toStandardOutput(std::string_view text) = 0;
  virtual void toStandardError(std::string_view text) = 0;
};

// Writes to two streams (std::cout and std::cerr in a program; the command line tool passes
// std::cerr twice so that standard output carries only the tree).
class StreamDiagnostics final : public DiagnosticSink {
 public:
  StreamDiagnostics(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}
  void toStandardOutput(std::string_view text) override;
  void toStandardError(std::string_view text) override;

 private:
  std::mutex mutex_;
  std::ostream& out_;
  std::ostream& err_;
};

}  // namespace vuv
