# Sourced by sync.sh and wine-pause.sh: the flashes (the region's brightness past 200) and the
# beeps (the 3000 Hz band past -30 dB), from FFmpeg's metadata print of these filters, as times.
seen_filter="signalstats,metadata=print:key=lavfi.signalstats.YAVG:file"
heard_filter="bandpass=f=3000:width_type=h:w=200,asetnsamples=n=240:p=0,astats=metadata=1:reset=1:measure_perchannel=none:measure_overall=RMS_level,ametadata=print:key=lavfi.astats.Overall.RMS_level:file"
flashes() { awk -F'[:= ]+' '/pts_time/ {t = $NF} /YAVG/ {if ($NF >= 200 && !on) print t; on = $NF >= 200}' "$@"; }
beeps() { awk -F'[:= ]+' '/pts_time/ {t = $NF} /RMS_level/ {v = ($NF == "-inf") ? -999 : $NF; if (v >= -30 && !on) print t; on = v >= -30}' "$@"; }
