#include "trace/TraceClient.h"

#include "support/FileUtil.h"

namespace {

struct MarkerState
{
    QString path = QStringLiteral(ORVEXA_MARKER_FILE);
    bool checked = false;
    bool present = false;
};

MarkerState& Marker()
{
    static MarkerState state;
    return state;
}

} // namespace

QString DefaultMarkerFilePath()
{
    return QStringLiteral(ORVEXA_MARKER_FILE);
}

bool IsTraceEnabled()
{
    MarkerState& marker = Marker();
    if (!marker.checked) {
        marker.checked = true;
        marker.present = CFileUtil::PathExists(marker.path);
    }
    return marker.present;
}

void ResetTraceMarker(const QString& markerPath)
{
    Marker() = MarkerState{markerPath};
}
