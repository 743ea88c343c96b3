# Copies the page and uPlot's built files next to each other. Without uPlot
# (scripts/bootstrap runs npm ci here) the build goes on and says what to do;
# `vornctl view` then refuses with the same advice.
file(MAKE_DIRECTORY ${OUT})
foreach(f index.html view.js view.css)
  file(COPY ${WEB_DIR}/${f} DESTINATION ${OUT})
endforeach()
set(missing "")
foreach(f uPlot.iife.min.js uPlot.min.css)
  if(EXISTS ${UPLOT_DIST}/${f})
    file(COPY ${UPLOT_DIST}/${f} DESTINATION ${OUT})
  else()
    set(missing "${missing} ${f}")
  endif()
endforeach()
if(missing)
  message(WARNING "vornctl view: uPlot is missing (${missing} ) from ${UPLOT_DIST}: run scripts/bootstrap "
                  "(it runs npm ci in tools/vornctl/web), then build again")
endif()
