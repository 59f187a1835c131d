# cmake -DOUTPUT=... -DCSS_REWRITE=... -DBOOTSTRAP=... -P embed_scripts.cmake
# Writes the browser front's page scripts into a header, as the engine inlines them into pages.
file(READ ${CSS_REWRITE} css_rewrite)
file(READ ${BOOTSTRAP} bootstrap)
file(WRITE ${OUTPUT}.tmp
"// Generated from platform/engine/browser/*.js; do not edit.\n#pragma once\n\n"
"inline constexpr char kCssRewriteScript[] = R\"front_script(${css_rewrite})front_script\";\n\n"
"inline constexpr char kBootstrapScript[] = R\"front_script(${bootstrap})front_script\";\n")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
