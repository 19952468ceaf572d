#pragma once

#include <QByteArray>

class LetreiroService;

// GET /metrics for the site: panels by last result, sends by result since
// the start, each line's queue, the MQTT link, in Prometheus' text format.
namespace metrics
{
QByteArray site(const LetreiroService &service);
}
