# Warnings on, everywhere, and kept clean.
add_compile_options(-Wall -Wextra -Wshadow -Wformat=2 -Wno-missing-field-initializers)
if(QOR_WERROR)
    add_compile_options(-Werror)
endif()
