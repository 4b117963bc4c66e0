# The message box with remembered answers.
