# Called by bench/pam with dir (one file NAME.dat a module: users, median
# ms), modules (their names), out (the SVG) and machine.
set terminal svg size 640,440 dynamic font "sans,13" background "white"
set output out
set termoption noenhanced
set title "A login through PAM, a user in the middle, ".machine font "sans,12"
set logscale xy
set xrange [6e4:1.6e7]
set xtics ("100,000" 1e5, "1,000,000" 1e6, "10,000,000" 1e7)
set format y "%g"
set xlabel "users in the file"
set ylabel "median ms of a login (pamtester)"
set grid xtics ytics mytics lc rgb "#dddddd"
set key top left box opaque reverse Left
plot for [m in modules] dir."/".m.".dat" using 1:2 with linespoints lw 2 pt 7 title m
