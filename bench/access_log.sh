# access_log.sh - sourced by the bench scripts that count nginx's requests.
# Needs ACCESS_LOG, the access log of the nginx under measurement.

log_lines() { wc -l < "$ACCESS_LOG"; }

# Waits (at most 1 s) until the access log has stopped growing for 30 ms.
settle() {
    local last now
    last=$(log_lines)
    for _ in $(seq 33); do
        sleep 0.03
        now=$(log_lines)
        [[ $now == "$last" ]] && return 0
        last=$now
    done
}
