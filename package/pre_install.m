function pre_install(desc)
  % Run by "pkg install" before it compiles the package. The package is
  % sources only: a machine without the compiler Octave builds with, or
  % without make, is told what to install instead of seeing make fail.
  missing = {};
  try
    [compiler, status] = mkoctfile('-p', 'CXX');
  catch
    compiler = '';
    status = 1;
  end
  compiler = strtok(strtrim(compiler));
  if status ~= 0 || isempty(compiler)
    missing{end+1} = 'mkoctfile (Octave''s compiler front end)';
  elseif ~runs(compiler)
    missing{end+1} = sprintf('the C++17 compiler this Octave builds with, "%s" (mkoctfile -p CXX)', ...
                             compiler);
  end
  if ~runs('make')
    missing{end+1} = 'make';
  end
  if ~isempty(missing)
    error('dap:install:noCompiler', ...
          ['the %s package is compiled when it is installed, and this machine lacks %s. ' ...
           'On Debian: sudo apt-get install g++ make liboctave-dev; then pkg install again.'], ...
          desc.name, strjoin(missing, ' and '));
  end
end

function yes = runs(program)
  if any(program == '/')
    yes = exist(program, 'file') == 2;
  else
    yes = ~isempty(file_in_path(getenv('PATH'), program));
  end
end
