# Called by bench/plot with data (one row a size: users and six medians in
# ms), out (the SVG), machine, and xmin and xmax, the range of users.
set terminal svg size 960,440 dynamic font "sans,13" background "white"
set output out
set multiplot layout 1,2 title "Median time of a run, ".machine font "sans,12"

set logscale xy
set xrange [xmin:xmax]
set yrange [*:*]
set xtics ("10,000" 1e4, "100,000" 1e5, "1,000,000" 1e6, "10,000,000" 1e7)
set format y "%g"
set xlabel "users in the file"
set ylabel "ms"
set grid xtics ytics mytics lc rgb "#dddddd"
set key top left box opaque reverse Left
set style line 1 lc rgb "#1f6fb4" lw 2.5 pt 7 ps 0.9
set style line 2 lc rgb "#d9730d" lw 2 pt 5 ps 0.8
set style line 3 lc rgb "#666666" lw 1.5 dt 2 pt 6 ps 0.8

set title "check (a user in the middle)"
plot data using 1:2 with linespoints ls 1 title "users check", \
     data using 1:3 with linespoints ls 2 title "htpasswd -vb", \
     data using 1:4 with linespoints ls 3 title "floor: cat file"

set title "add (a new user, synced save)"
unset ylabel
plot data using 1:5 with linespoints ls 1 title "users add", \
     data using 1:6 with linespoints ls 2 title "htpasswd -bs", \
     data using 1:7 with linespoints ls 3 title "floor: durable copy"
unset multiplot
