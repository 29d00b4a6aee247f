% plotdemo: its fixed matrix drawn through Octave's own plot, one line per
% column, on an invisible figure that still renders to a picture.

warning('off', 'Octave:shadowed-function');
warning('off', 'Octave:gnuplot-graphics');
addpath(fullfile(getenv('DAP_BUILD_DIR'), 'diagnostics'));

f = figure('visible', 'off');
plotdemo;
lines = findobj(f, 'type', 'line');
assert(numel(lines) == 2);
% Columns (5.2, 7.9) and (1.3, 4.2): a table stored row by row would give
% (5.2, 1.3) and (7.9, 4.2).
assert(sortrows(cell2mat(get(lines, 'ydata'))), [1.3 4.2; 5.2 7.9]);
assert(cell2mat(get(lines, 'xdata')), [1 2; 1 2]);

png = [tempname() '.png'];
print(f, '-dpng', png);
picture = imread(png);
delete(png);
assert(size(picture, 1) > 100 && size(picture, 2) > 100);
assert(any(picture(:) < 128), 'nothing drawn');
close(f);
