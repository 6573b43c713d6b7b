# chart.gp: the chart of docs/benchmarks.png, from report.lua's data files.
#   gnuplot -e "datadir='DIR'; out='FILE'" chart.gp
set terminal pngcairo size 1500,480 font ",10" noenhanced
set output out
set multiplot layout 1,3
set style data histogram
set style histogram clustered gap 1
set style fill solid 0.8 border -1
set key top left
set grid ytics
set xtics rotate by -20

set title "Table core, random double keys, 10^6 entries"
set ylabel "ns per operation"
plot datadir."/core.dat" using 2:xtic(1) title columnheader(2), \
     "" using 3 title columnheader(3), "" using 4 title columnheader(4), \
     "" using 5 title columnheader(5)

set title "Script level, 10^6 entries: map / table"
set ylabel "ratio (below 1: the map is better)"
set logscale y
plot datadir."/script.dat" using 2:xtic(1) title columnheader(2), \
     "" using 3 title columnheader(3), 1 with lines lc rgb "black" notitle
unset logscale y

set title "Start-up to exit"
set ylabel "ms (mean, error bar = sigma)"
set style fill solid 0.8 border -1
set boxwidth 0.6
set key off
set logscale y
set xrange [-0.6:*]
plot datadir."/startup.dat" using 0:2:xtic(1) with boxes lc rgb "#4477aa", \
     "" using 0:2:3 with yerrorbars lc rgb "black" pt 0
unset multiplot
