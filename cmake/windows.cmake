# The Windows programs: one portable .exe each, runtime linked in.
add_link_options(-static -static-libgcc -static-libstdc++)
enable_language(RC)
