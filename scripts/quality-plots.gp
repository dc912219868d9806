# The quality report's pictures from the data files of position_sweep and touch_lines:
#   gnuplot -e "data='DIR'; out='DIR'" scripts/quality-plots.gp
# writes out/quality-error-map.png, out/quality-lines.png and out/quality-line-deviation.png.
if (!exists("data")) data = "."
if (!exists("out")) out = "."

models = "B64 B64 S40 S40"
noises = "0.5 2.0 0.5 2.0"
arrowScale = 0.2  # an error of one pitch draws an arrow 0.2 of the foil long

set terminal pngcairo size 1200,1150 font "sans,10"
set output out."/quality-error-map.png"
set multiplot layout 2,2 title "Still finger: error of the reported position (colour: distance, pitches; arrows: 1 pitch = 0.2 of the foil)"
set size ratio -1
set xrange [-0.05:1.05]
set yrange [1.05:-0.05]
set xlabel "x (0..1 across the X electrodes)"
set ylabel "y (0..1 across the Y electrodes)"
set cbrange [0:0.4]
set palette defined (0 "#ffffff", 0.1 "#fde7a0", 0.25 "#f59b42", 0.4 "#b2182b")
do for [i=1:4] {
    m = word(models, i); n = word(noises, i)
    f = sprintf("%s/error-map-%s-%s.dat", data, m, n)
    set title sprintf("%s, noise %s", m, n)
    plot f using 1:2:5 with image notitle, \
         f using 1:2:($3 * arrowScale):($4 * arrowScale) \
           with vectors head size 0.012,25 lc rgb "#202020" notitle
}
unset multiplot

set output out."/quality-lines.png"
set multiplot layout 2,2 title "Straight lines drawn through the whole path: the pointer's points over the finger's lines"
unset cbrange
set key bottom right
# The finger's lines, under the points.
set arrow 1 from 0.1,0.43 to 0.9,0.43 nohead dt 2 lc rgb "#999999" back
set arrow 2 from 0.1,0.1 to 0.9,0.9 nohead dt 2 lc rgb "#999999" back
set arrow 3 from 0.43,0.1 to 0.43,0.9 nohead dt 2 lc rgb "#999999" back
do for [i=1:4] {
    m = word(models, i); n = word(noises, i)
    f = sprintf("%s/lines-%s-%s.dat", data, m, n)
    set title sprintf("%s, noise %s", m, n)
    plot f index 0 using 1:2 with points pt 7 ps 0.35 lc rgb "#1b6ca8" title "0°", \
         f index 1 using 1:2 with points pt 7 ps 0.35 lc rgb "#d95f02" title "45°", \
         f index 2 using 1:2 with points pt 7 ps 0.35 lc rgb "#1b9e77" title "90°"
}
unset multiplot
unset arrow

set output out."/quality-line-deviation.png"
set multiplot layout 2,2 title "Distance of the drawn lines from the finger's line, in electrode pitches"
set size noratio
set xrange [0:1]
set yrange [-0.3:0.3]
set xlabel "along the line (0: its start, 1: its end)"
set ylabel "distance from the line (pitches)"
set key top right
do for [i=1:4] {
    m = word(models, i); n = word(noises, i)
    f = sprintf("%s/lines-%s-%s.dat", data, m, n)
    set title sprintf("%s, noise %s", m, n)
    plot f index 0 using 3:4 with lines lw 1.5 lc rgb "#1b6ca8" title "0°", \
         f index 1 using 3:4 with lines lw 1.5 lc rgb "#d95f02" title "45°", \
         f index 2 using 3:4 with lines lw 1.5 lc rgb "#1b9e77" title "90°"
}
unset multiplot
