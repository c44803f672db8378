// The records as CSV and as JSON, every field as stored.
#include <cmath>

#include "apdump/formats.h"

namespace {

std::string json_level(float v) { return std::isfinite(v) ? float_text(v) : "null"; }

}  // namespace

void write_csv(out_sink* out, const radio_map& map) {
  put(out, "point,x,y,address,essid,signal,noise,seen\n");
  const int32_t n = map.header.num_refpoints;
  for (int32_t i = 0; i < n; ++i) {
    const refpoint& r = map.records[static_cast<std::size_t>(i)];
    const std::string point = int_text(int64_t{i} + 1) + "," + int_text(r.x) + "," + int_text(r.y) + ",";
    if (r.ap_count == 0) {
      put(out, point + ",,,,\n");
      continue;
    }
    for (int32_t k = 0; k < r.ap_count; ++k) {
      const ap_reading& ap = r.ap[k];
      put(out, point);
      put_csv_field(out, slot_address(ap));
      put(out, ',');
      put_csv_field(out, slot_essid(ap));
      // Appended piece by piece: GCC 12 at -O3 takes `"," + std::string`
      // for an overlapping copy (-Wrestrict, a false positive).
      std::string rest = ",";
      rest += float_text(ap.signal_level);
      rest += ',';
      rest += float_text(ap.noise_level);
      rest += ',';
      rest += int_text(ap.seen);
      rest += '\n';
      put(out, rest);
    }
  }
}

void write_json(out_sink* out, const radio_map& map) {
  const db_header& h = map.header;
  put(out, "{\n  \"header\": {\"num_refpoints\": " + int_text(h.num_refpoints) +
               ", \"width\": " + int_text(h.width) + ", \"height\": " + int_text(h.height) +
               ", \"offset_x\": " + int_text(h.offset_x) + ", \"offset_y\": " + int_text(h.offset_y) +
               "},\n  \"refpoints\": [");
  for (int32_t i = 0; i < h.num_refpoints; ++i) {
    const refpoint& r = map.records[static_cast<std::size_t>(i)];
    put(out, std::string(i == 0 ? "\n" : ",\n") + "    {\"point\": " + int_text(int64_t{i} + 1) +
                 ", \"x\": " + int_text(r.x) + ", \"y\": " + int_text(r.y) + ", \"access_points\": [");
    for (int32_t k = 0; k < r.ap_count; ++k) {
      const ap_reading& ap = r.ap[k];
      put(out, k == 0 ? "\n      {\"address\": " : ",\n      {\"address\": ");
      put_json_string(out, slot_address(ap));
      put(out, ", \"essid\": ");
      put_json_string(out, slot_essid(ap));
      put(out, ", \"signal\": " + json_level(ap.signal_level) + ", \"noise\": " +
                   json_level(ap.noise_level) + ", \"seen\": " + int_text(ap.seen) + "}");
    }
    put(out, r.ap_count == 0 ? "]}" : "\n    ]}");
  }
  put(out, h.num_refpoints == 0 ? "]\n}\n" : "\n  ]\n}\n");
}
