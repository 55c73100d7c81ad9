#include "pkgmgr/logger.h"

#include <QUuid>

#include <cstring>

namespace orv {

TConnectionPoint TConnectionPoint::Create() {
  TConnectionPoint point;
  const QByteArray bytes = QUuid::createUuid().toRfc4122();
  std::memcpy(point.Guid.data(), bytes.constData(), point.Guid.size());
  return point;
}

TProductProgressInfo::TProductProgressInfo(const TProductProgressInfo& other)
    : ProductId(other.ProductId),
      ProcessedPackages(other.ProcessedPackages.load()),
      TotalPackages(other.TotalPackages.load()) {}

TProductProgressInfo& TProductProgressInfo::operator=(const TProductProgressInfo& other) {
  ProductId = other.ProductId;
  ProcessedPackages.store(other.ProcessedPackages.load());
  TotalPackages.store(other.TotalPackages.load());
  return *this;
}

void TProductProgressInfo::SetTotalPackages(std::int32_t totalPackages) { TotalPackages.store(totalPackages); }

std::int32_t TProductProgressInfo::DoAtomicIncrement() { return ProcessedPackages.fetch_add(1) + 1; }

bool TProductProgressInfo::Finished() const { return ProcessedPackages.load() == TotalPackages.load(); }

QString TProductProgressInfo::ToString() const {
  if (ProductId.isEmpty()) return {};
  const std::int64_t processed = ProcessedPackages.load();
  const std::int64_t total = TotalPackages.load();
  // Widened so that large package counts give the right figure instead of
  // overflowing.
  const std::int64_t percent = (total > 0 && total > processed) ? processed * 100 / total : 100;
  return u'[' + ProductId + u": " + QString::number(percent).rightJustified(3, u' ') + u"%]";
}

void TLogger::Progress(const QString& message, const TProductProgressInfo&) { Info(ProcessMsg(message)); }

void TLogger::CreateConnectionPoint(TConnectionPoint&) {}

void TLogger::ConnectTo(const TConnectionPoint&) {}

std::unique_ptr<TLoggerState> TLogger::Push() { return nullptr; }

void TLogger::Pop(std::unique_ptr<TLoggerState>) {}

void TLogger::StartSpinner() {}

void TLogger::StopSpinner() {}

}  // namespace orv
