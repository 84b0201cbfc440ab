"""What the golden checks of All fields share: a vCard value as an importer or a table writes it."""


def dialable(value):
    """
    A phone as a number: a vCard 4.0 "tel:" address without its scheme, its ";ext=" as " ext. "
    and the digits, its other parameters left out. value is the phone's text.
    """
    if value.lower().startswith("tel:"):
        number, *parameters = value[4:].split(";")
        for parameter in parameters:
            if parameter.lower().startswith("ext="):
                number += " ext. " + parameter[4:]
        value = number
    return value
