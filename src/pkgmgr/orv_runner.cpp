#include "pkgmgr/orv_runner.h"

#include "lib/text_trim.h"
#include "pkgmgr/command_line.h"
#include "pkgmgr/line_splitter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <functional>
#include <string_view>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orv {

namespace {

const QString kExeName = QStringLiteral("orv.exe");

QString OwnExecutableDir() {
  if (QCoreApplication::instance()) return QCoreApplication::applicationDirPath();
  return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
}

std::optional<int32_t> ParseDecimal(QStringView text) {
  text = TrimmedSpaceAndControl(text);
  // A few plain digits, as progress lines have them, without the general
  // parser.
  int32_t digitsValue = 0;
  qsizetype digits = 0;
  for (; digits < text.size() && digits < 9 && text[digits] >= u'0' && text[digits] <= u'9'; ++digits)
    digitsValue = digitsValue * 10 + (text[digits].unicode() - u'0');
  if (digits > 0 && digits == text.size()) return digitsValue;
  bool ok = false;
  const int32_t value = text.toInt(&ok, 10);
  return ok ? std::optional<int32_t>(value) : std::nullopt;
}

// The index of the first c in the line from `from` on, -1 when there is
// none. QStringView::indexOf takes the way of a substring search even for
// a single character, which a progress line per output line feels.
qsizetype IndexOf(QStringView line, char16_t c, qsizetype from = 0) {
  const std::u16string_view units(line.utf16(), static_cast<size_t>(line.size()));
  const size_t at = units.find(c, static_cast<size_t>(from));
  return at == std::u16string_view::npos ? -1 : static_cast<qsizetype>(at);
}

// The index of the first "%]" from `from` on, -1 when there is none.
qsizetype IndexOfPercentBracket(QStringView line, qsizetype from = 0) {
  for (qsizetype at = IndexOf(line, u'%', from); at >= 0; at = IndexOf(line, u'%', at + 1))
    if (at + 1 < line.size() && line[at + 1] == u']') return at;
  return -1;
}

// The three characters before a "%]" at index end, as a number.
std::optional<int32_t> PercentBefore(QStringView line, qsizetype end) { return ParseDecimal(line.mid(end - 3, 3)); }

// ParseProgress into a record that the previous line may have filled: the
// record is only valid when the line is a progress line.
bool ParseProgressInto(QStringView line, bool productProgress, TProgressInfo& info) {
  // Positions below are 0-based; a 1-based position is one more, so an
  // absent match (-1) counts as position 0.
  const qsizetype p1 = IndexOfPercentBracket(line);
  if (p1 < 3) return false;
  const std::optional<int32_t> percent = PercentBefore(line, p1);
  if (!percent) return false;
  info.Percent = *percent;
  QStringView productId;
  info.ProductPercent = 0;
  if (productProgress) {
    const qsizetype p2 = IndexOfPercentBracket(line, p1 + 1);
    const qsizetype bracket = IndexOf(line, u'[', p1 + 1);
    const qsizetype colon = IndexOf(line, u':', p1 + 1);
    if (p2 - colon >= 3 && colon > bracket) {
      productId = TrimmedSpaceAndControl(line.mid(bracket + 1, colon - bracket - 1));
      info.ProductPercent = PercentBefore(line, p2).value_or(0);
    }
  }
  if (info.ProductId != productId) info.ProductId = productId.toString();
  return true;
}

constexpr char kSummaryMarker[] = "=== Build Summary ===";

// The bytes without leading and trailing ones at or below the space
// character: in UTF-8 exactly what TrimmedSpaceAndControl takes off the
// decoded text.
QByteArrayView TrimmedBytes(QByteArrayView text) {
  while (!text.isEmpty() && static_cast<unsigned char>(text.front()) <= ' ') text = text.sliced(1);
  while (!text.isEmpty() && static_cast<unsigned char>(text.back()) <= ' ') text.chop(1);
  return text;
}

// Narrows the ASCII units from src on, as many as lie in whole blocks
// before the first other unit; returns how many it narrowed.
qsizetype NarrowAsciiBlocks([[maybe_unused]] const char16_t* src, [[maybe_unused]] qsizetype size,
                            [[maybe_unused]] unsigned char* dst) {
  qsizetype done = 0;
#if defined(__SSE2__)
  const __m128i nonAscii = _mm_set1_epi16(static_cast<short>(0xFF80));
  for (; done + 8 <= size; done += 8) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + done));
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(units, nonAscii), _mm_setzero_si128())) != 0xFFFF) break;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + done), _mm_packus_epi16(units, units));
  }
#endif  // elsewhere the plain loops of the caller do it all
  return done;
}

// Appends the text as UTF-8. The decoded output holds no lone surrogate;
// one would become U+FFFD, as QString::toUtf8 makes it.
void AppendUtf8(MappedBuffer& out, QStringView text) {
  // Three bytes are the most a UTF-16 unit takes.
  auto* const start = reinterpret_cast<unsigned char*>(out.Reserve(3 * static_cast<size_t>(text.size())));
  auto* dst = start;
  const char16_t* src = text.utf16();
  const char16_t* const end = src + text.size();
  while (src < end) {
    const qsizetype narrowed = NarrowAsciiBlocks(src, end - src, dst);
    src += narrowed;
    dst += narrowed;
    if (src == end) break;
    const char32_t c = *src++;
    if (c < 0x80) {
      *dst++ = static_cast<unsigned char>(c);
    } else if (c < 0x800) {
      *dst++ = static_cast<unsigned char>(0xC0 | (c >> 6));
      *dst++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
    } else if (QChar::isHighSurrogate(c) && src < end && QChar::isLowSurrogate(*src)) {
      const char32_t code = QChar::surrogateToUcs4(static_cast<char16_t>(c), *src++);
      *dst++ = static_cast<unsigned char>(0xF0 | (code >> 18));
      *dst++ = static_cast<unsigned char>(0x80 | ((code >> 12) & 0x3F));
      *dst++ = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
      *dst++ = static_cast<unsigned char>(0x80 | (code & 0x3F));
    } else {
      const char32_t code = QChar::isSurrogate(c) ? char32_t(QChar::ReplacementCharacter) : c;
      *dst++ = static_cast<unsigned char>(0xE0 | (code >> 12));
      *dst++ = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
      *dst++ = static_cast<unsigned char>(0x80 | (code & 0x3F));
    }
  }
  out.Commit(static_cast<size_t>(dst - start));
}

// The lines of an output text: each ends at CR LF, and a rest without one
// (a line still open during a run) is the last.
QStringList LinesOf(QByteArrayView text) {
  QStringList lines;
  while (!text.isEmpty()) {
    const qsizetype end = text.indexOf('\n');
    lines << QString::fromUtf8(end < 0 ? text : text.first(end - 1));
    text = end < 0 ? QByteArrayView() : text.sliced(end + 1);
  }
  return lines;
}

// Takes the package manager's alerts out of the output as its lines end:
// a line that starts with the new-version text, with the two after it,
// and a disk-space warning, with the one after it.
class TAlertTaker {
public:
  TAlertTaker(QStringList& newVersion, QStringList& diskSpace) : newVersion_(newVersion), diskSpace_(diskSpace) {}

  // Whether the line belongs to an alert; such a line goes to the alert's
  // list.
  bool Take(QByteArrayView line) {
    static constexpr QByteArrayView kNewVersion = "There is a new version of ORV Kitwright available";
    static constexpr QByteArrayView kDiskSpaceBegin = "WARNING: You only have";
    static constexpr QByteArrayView kDiskSpaceEnd = "MB left in disk. ORV Kitwright might not work properly.";
    if (linesLeft_ == 0) {
      const QByteArrayView trimmed = TrimmedBytes(line);
      if (trimmed.startsWith(kNewVersion)) {
        alert_ = &newVersion_;
        linesLeft_ = 3;
      } else if (trimmed.startsWith(kDiskSpaceBegin) && trimmed.endsWith(kDiskSpaceEnd)) {
        alert_ = &diskSpace_;
        linesLeft_ = 2;
      } else {
        return false;
      }
    }
    *alert_ << QString::fromUtf8(line);
    --linesLeft_;
    return true;
  }

private:
  QStringList& newVersion_;
  QStringList& diskSpace_;
  QStringList* alert_ = nullptr;
  int linesLeft_ = 0;
};

// Keeps the output text of a run, every line followed by CR LF and the
// alerts taken out, and hands each complete line to deliver, when given,
// as soon as its break arrives (one printed before a long step shows
// during that step).
class TOutputCollector final : public TLineSplitter::TSink {
public:
  TOutputCollector(MappedBuffer& text, TAlertTaker& alerts, std::function<void(const QString&)> deliver,
                   const TKeptLineProc& keep)
      : text_(text), alerts_(alerts), deliver_(std::move(deliver)), keep_(keep) {}

  void AppendToLine(QStringView text) override { AppendUtf8(text_, text); }
  void EndLine() override {
    const QByteArrayView line(text_.data() + lineStart_, static_cast<qsizetype>(text_.size() - lineStart_));
    // Made from the whole line's bytes only for a listener: one allocation
    // of the right size. A new string for every line, as a listener may
    // hand it to another thread, and a buffer reused after that thread let
    // go of it would be written without any ordering against its reads.
    const QString made = deliver_ ? QString::fromUtf8(line) : QString();
    if (alerts_.Take(line)) {
      text_.Truncate(lineStart_);
    } else {
      if (keep_) keep_(line);
      text_.Append("\r\n", 2);
    }
    lineStart_ = text_.size();
    if (deliver_) deliver_(made);
  }

private:
  MappedBuffer& text_;
  TAlertTaker& alerts_;
  std::function<void(const QString&)> deliver_;
  const TKeptLineProc& keep_;
  size_t lineStart_ = 0;
};

// Finds the build summary among lines as they come: the lines after the
// first one whose text after its first "]" holds the marker, up to the
// first blank one, each cut to the text after its first "]".
class TSummaryFinder {
public:
  void Add(QByteArrayView line) {
    if (state_ == State::Ended) return;
    const QByteArrayView cut = line.sliced(line.indexOf(']') + 1);
    if (state_ == State::Before) {
      // Most lines hold no "=" at all, which is settled faster than the
      // marker.
      if (cut.contains('=') && cut.contains(QByteArrayView(kSummaryMarker))) state_ = State::Within;
      return;
    }
    if (TrimmedBytes(cut).isEmpty())
      state_ = State::Ended;
    else
      summary_ << QString::fromUtf8(cut);
  }
  QStringList Summary() && { return std::move(summary_); }

private:
  enum class State { Before, Within, Ended };
  State state_ = State::Before;
  QStringList summary_;
};

}  // namespace

TOrvRunner::TOrvRunner() : FWorkingDir(QDir::currentPath()) {
  const QString besideUs = QDir(OwnExecutableDir()).filePath(kExeName);
  FExeFileName = QFileInfo::exists(besideUs) ? besideUs : kExeName;
}

TOrvRunner::~TOrvRunner() = default;

const QStringList& TOrvRunner::Output() const {
  // Within a run the text only grows (an alert line goes as soon as it
  // ends, and leaves the text as it was before it), and Run starts over,
  // so its size tells whether the list is current.
  if (FOutputMadeOf != OutputBytes().size()) {
    FOutput = LinesOf(OutputBytes());
    FOutputMadeOf = OutputBytes().size();
  }
  return FOutput;
}

void TOrvRunner::Run(const QString& Args, const TOutputLineProc& Callback, const TKeptLineProc& KeptLine) {
  const QString commandLine = u'"' + FExeFileName + QStringLiteral("\" ") + Args;
  FOutputText.Clear();
  FOutputMadeOf = -1;
  std::function<void(const QString&)> deliver;
  if (FOnOutputLine || Callback)
    deliver = [&](const QString& line) {
      if (FOnOutputLine) FOnOutputLine(line);
      if (Callback) Callback(line);
    };
  TAlertTaker alerts(FAlertNewVersion, FAlertDiskSpace);
  TOutputCollector collector(FOutputText, alerts, std::move(deliver), KeptLine);
  TLineSplitter splitter(collector);
  const int32_t exitCode = TCommandLine::ExecuteEx(
      commandLine, FWorkingDir, [&](const QString& chunk) { splitter.Append(chunk); }, {},
      [this] { return FIsCanceled.load(); });
  if (splitter.LastLineOpen()) collector.EndLine();

  FLastExitCode = exitCode;
  if (!FIgnoreExitCode) CheckExitCode(Args);
}

QString TOrvRunner::WithRepository(const QString& Args) const {
  return FRepository.isEmpty() ? Args : Args + QStringLiteral(" -repo:") + FRepository;
}

void TOrvRunner::CheckExitCode(const QString& Args) const {
  if (FLastExitCode != 0) throw EOrvRunner(QStringLiteral("Running failed: %1").arg(Args));
}

const nlohmann::ordered_json& TOrvRunner::JsonOutput(std::initializer_list<std::string_view> ProductFields) {
  using Json = nlohmann::ordered_json;
  if (!FJsonOutput) {
    Json::parser_callback_t keepFields;
    if (ProductFields.size() > 0)
      keepFields = [ProductFields](int depth, Json::parse_event_t event, Json& parsed) {
        // Depth 2 is the members of the root's member objects.
        return event != Json::parse_event_t::key || depth != 2 ||
               std::find(ProductFields.begin(), ProductFields.end(), parsed.get_ref<const std::string&>()) !=
                   ProductFields.end();
      };
    const QByteArrayView text = OutputBytes();
    auto value = Json::parse(text.begin(), text.end(), keepFields, false);
    if (value.is_discarded()) value = nullptr;
    FJsonOutput = std::move(value);
  }
  return *FJsonOutput;
}

std::optional<TProgressInfo> TAbstractOrvBuildRunner::ParseProgress(const QString& Line, bool ProductProgress) {
  TProgressInfo info;
  if (!ParseProgressInto(Line, ProductProgress, info)) return std::nullopt;
  return info;
}

QStringList TAbstractOrvBuildRunner::ExtractSummary(const QStringList& Output) {
  TSummaryFinder finder;
  for (const QString& line : Output) finder.Add(line.toUtf8());
  return std::move(finder).Summary();
}

void TAbstractOrvBuildRunner::RunCommand(const QString& Args) {
  // One record for every line, so that a product identifier that repeats
  // is not made again.
  TProgressInfo progress;
  TSummaryFinder summary;
  Run(
      Args,
      [&](const QString& line) {
        if (FOnProgress && ParseProgressInto(line, FProductProgress, progress)) FOnProgress(progress);
      },
      [&summary](QByteArrayView line) { summary.Add(line); });
  FSummary = std::move(summary).Summary();
}

}  // namespace orv
