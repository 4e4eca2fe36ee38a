-- Made-up records for the line dashboard's checks: psql -v n=COUNT -v every=SECONDS -f ...
-- Six stations of four ports, newest now and one every :every seconds back; about one in 23
-- fails at a step (and the record after it is a second attempt) and one in 97 has a sum that
-- differs. A seventh station went quiet half an
-- hour ago, and one's name is markup, which the page must show as text.
INSERT INTO records (id, station, time_utc, host, port, device, data_file, data_sha256,
  data_bytes, options, result, sum, expected_sum, seconds, step, reason, version, attempt)
SELECT gen_random_uuid(),
  CASE WHEN i % 501 = 0 THEN '<img src=x onerror=alert(1)>'
       WHEN i % 251 = 0 THEN 'station-quiet'
       ELSE 'station-' || (i % 6 + 1) END,
  now() - i * make_interval(secs => :every)
    - CASE WHEN i % 251 = 0 AND i % 501 <> 0 THEN interval '30 minutes' ELSE interval '0' END,
  'line-pc', 'COM' || (i / 6 % 4 + 1), '/dev/ttyUSB' || (i / 6 % 4),
  '/srv/data/screens-' || (i % 3) || '.v3', repeat(md5((i % 3)::text), 2), 204800, '',
  CASE WHEN i % 23 = 0 THEN 'failed' WHEN i % 97 = 0 THEN 'sum-mismatch' ELSE 'ok' END,
  '5A3C', '', 61.0,
  CASE WHEN i % 23 = 0 THEN (ARRAY['open', 'erase', 'data', 'fs_end'])[i / 23 % 4 + 1]
       WHEN i % 97 = 0 THEN 'sb' ELSE '' END,
  CASE WHEN i % 23 = 0 THEN (ARRAY['no reply', 'timeout', 'NAK', 'bad frame', 'port busy'])[i / 92 % 5 + 1]
       WHEN i % 97 = 0 THEN 'sum differs' ELSE '' END,
  '1.5.0',
  CASE WHEN i % 23 = 1 THEN 2 ELSE 1 END
FROM generate_series(1, :n) AS i;

-- Two stations said at their last send that records wait behind it; one that all went.
INSERT INTO station_queues (station, waiting)
VALUES ('station-2', 37), ('station-5', 4), ('station-6', 0);
